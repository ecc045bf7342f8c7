#include "desktop/editor/cell_panel.h"

#include "core/base/sysutils.h"
#include "core/generate/cell_format.h"
#include "core/generate/page_content.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSpinBox>
#include <QToolButton>

namespace sw {

namespace {

// In the order of TCellFill.
constexpr const char* kFillValues[] = { "", "", "auto" };

QString HexOf(const QColor& color)
{
    return QString::asprintf("%02X%02X%02X", color.red(), color.green(), color.blue());
}

QSpinBox* MakeSpanBox(const char* name, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setRange(1, kMaxCellSpan);
    // One edit per value the user settles on, not one per digit typed.
    box->setKeyboardTracking(false);
    return box;
}

} // namespace

TCellPanel::TCellPanel(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pnlCell"));
    auto* form = new QFormLayout(this);
    form->setContentsMargins(6, 6, 6, 6);
    form->setVerticalSpacing(4);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    lblCell = new QLabel(this);
    lblCell->setObjectName(QStringLiteral("lblCell"));
    lblCell->setTextFormat(Qt::PlainText);
    QFont bold = lblCell->font();
    bold.setBold(true);
    lblCell->setFont(bold);
    form->addRow(lblCell);

    const auto addLine = [&](const char* name, const char* label, const char* property, const char* tip) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(name));
        edit->setToolTip(QString::fromUtf8(tip));
        form->addRow(QString::fromUtf8(label), edit);
        connect(edit, &QLineEdit::editingFinished, this, [this, edit, property] {
            if (edit->isModified())
                Edit(property, edit->text().toStdString());
            edit->setModified(false);
        });
        return edit;
    };
    edtName = addLine("edtName", "&Name:", "Name", "The cell's file name, without its extension");
    edtAlt = addLine("edtAlt", "&Alt text:", "Alt", "Shown when the image is not; not in classic pages");
    btnSuggestText = new QPushButton(QStringLiteral("Su&ggest from picture"), this);
    btnSuggestText->setObjectName(QStringLiteral("btnSuggestText"));
    btnSuggestText->setToolTip(QStringLiteral("Fills the alt text with the words the cell shows; press "
                                              "Enter in the field to keep them"));
    form->addRow(QString(), btnSuggestText);
    m_suggester = new TTextSuggester(this);
    connect(btnSuggestText, &QPushButton::clicked, this, &TCellPanel::SuggestText);
    connect(m_suggester, &TTextSuggester::Finished, this, &TCellPanel::ShowSuggestion);
    connect(m_suggester, &TTextSuggester::Failed, this, [this](const QString& message) {
        m_reading.reset();
        btnSuggestText->setText(QStringLiteral("Su&ggest from picture"));
        btnSuggestText->setEnabled(m_cell.has_value());
        ShowRefusal(message);
    });
    edtLink = addLine("edtLink", "&Link:", "Link", "An address the image links to");

    auto* span = new QWidget(this);
    auto* spanRow = new QHBoxLayout(span);
    spanRow->setContentsMargins(0, 0, 0, 0);
    speSpanColumns = MakeSpanBox("speSpanColumns", span);
    speSpanColumns->setToolTip(QStringLiteral("Columns the cell covers"));
    speSpanRows = MakeSpanBox("speSpanRows", span);
    speSpanRows->setToolTip(QStringLiteral("Rows the cell covers"));
    spanRow->addWidget(speSpanColumns);
    spanRow->addWidget(new QLabel(QStringLiteral("\u00D7"), span));
    spanRow->addWidget(speSpanRows);
    spanRow->addStretch();
    form->addRow(QStringLiteral("&Span:"), span);
    for (QSpinBox* box : { speSpanColumns, speSpanRows })
        connect(box, &QSpinBox::valueChanged, this, &TCellPanel::EditSpan);

    auto* fill = new QWidget(this);
    auto* fillRow = new QHBoxLayout(fill);
    fillRow->setContentsMargins(0, 0, 0, 0);
    cbFill = new QComboBox(fill);
    cbFill->setObjectName(QStringLiteral("cbFill"));
    cbFill->addItems({ QStringLiteral("None"), QStringLiteral("Colour"), QStringLiteral("Auto") });
    cbFill->setToolTip(QStringLiteral("Paint the cell instead of writing an image; auto takes the colour "
                                      "of a cell of one flat colour"));
    btnFillColor = new QToolButton(fill);
    btnFillColor->setObjectName(QStringLiteral("btnFillColor"));
    btnFillColor->setToolTip(QStringLiteral("Choose the fill colour"));
    fillRow->addWidget(cbFill, 1);
    fillRow->addWidget(btnFillColor);
    form->addRow(QStringLiteral("&Fill:"), fill);
    connect(cbFill, &QComboBox::currentIndexChanged, this, &TCellPanel::EditFill);
    connect(btnFillColor, &QToolButton::clicked, this, &TCellPanel::PickFillColor);

    cbFormat = new QComboBox(this);
    cbFormat->setObjectName(QStringLiteral("cbFormat"));
    cbFormat->addItem(QStringLiteral("As the run"), QString());
    for (int type = 0; type <= static_cast<int>(TImageType::Auto); ++type) {
        const QString name = QString::fromStdString(ImageTypeName(static_cast<TImageType>(type)));
        cbFormat->addItem(name, name);
    }
    cbFormat->setToolTip(QStringLiteral("The cell's own file format"));
    form->addRow(QStringLiteral("F&ormat:"), cbFormat);
    connect(cbFormat, &QComboBox::currentIndexChanged, this,
        [this] { Edit("Format", cbFormat->currentData().toString().toStdString()); });

    cbxSkip = new QCheckBox(QStringLiteral("S&kip: an empty cell"), this);
    cbxSkip->setObjectName(QStringLiteral("cbxSkip"));
    cbxSkip->setToolTip(QStringLiteral("No image and no content, for text the page adds"));
    form->addRow(QString(), cbxSkip);
    connect(cbxSkip, &QCheckBox::toggled, this, [this](bool on) { Edit("Skip", on ? "1" : ""); });

    AddContentFields(form);

    lblRefusal = new QLabel(this);
    lblRefusal->setObjectName(QStringLiteral("lblRefusal"));
    lblRefusal->setWordWrap(true);
    lblRefusal->setTextFormat(Qt::PlainText);
    QPalette warning = lblRefusal->palette();
    warning.setColor(QPalette::WindowText, QColor(0xB0, 0x00, 0x20));
    lblRefusal->setPalette(warning);
    form->addRow(lblRefusal);

    ShowCell(std::nullopt, {}, {}, {});
}

void TCellPanel::ShowCell(std::optional<TCellRef> cell, const TCellProperties& properties,
    const std::string& defaultName, QSize pixels)
{
    const QScopedValueRollback showing(m_showing, true);
    lblRefusal->clear();
    m_cell = cell;
    for (QWidget* field :
        std::initializer_list<QWidget*> { edtName, edtAlt, edtLink, speSpanColumns, speSpanRows, cbFill,
            btnFillColor, cbFormat, cbxSkip, edtText, edtTextFont, speTextSize, edtTextColor, cbTextAlign,
            cbTextWeight, edtTextPadding, edtButton, edtButtonColor, edtButtonTextColor, speButtonRadius })
        field->setEnabled(cell.has_value());
    m_textCell = !properties.Text.empty();
    btnSuggestText->setEnabled(cell.has_value() && !m_suggester->IsRunning());
    if (!cell) {
        lblCell->setText(QStringLiteral("No cell selected"));
        for (QLineEdit* edit : { edtName, edtAlt, edtLink })
            edit->clear();
        for (const auto& [edit, property] : TextFields())
            edit->clear();
        edtName->setPlaceholderText(QString());
        return;
    }
    lblCell->setText(QStringLiteral("%1   %2 \u00D7 %3 px")
                         .arg(QString::fromStdString(CellLabel(*cell)))
                         .arg(pixels.width())
                         .arg(pixels.height()));
    edtName->setText(QString::fromStdString(properties.Name));
    edtName->setPlaceholderText(QString::fromStdString(defaultName));
    edtAlt->setText(QString::fromStdString(properties.Alt));
    edtLink->setText(QString::fromStdString(properties.Link));
    speSpanColumns->setValue(properties.SpanColumns);
    speSpanRows->setValue(properties.SpanRows);
    cbFill->setCurrentIndex(static_cast<int>(properties.Fill));
    if (properties.Fill == TCellFill::Color)
        m_fillColor = QColor(GetRValue(properties.FillColor), GetGValue(properties.FillColor),
            GetBValue(properties.FillColor));
    ShowFillColor(m_fillColor);
    btnFillColor->setEnabled(properties.Fill != TCellFill::Auto);
    // A format the list does not know still shows, so the refusal that a
    // run gives it can be read against it.
    int format = cbFormat->findData(QString::fromStdString(properties.Format));
    if (format < 0) {
        cbFormat->addItem(
            QString::fromStdString(properties.Format), QString::fromStdString(properties.Format));
        format = cbFormat->count() - 1;
    }
    cbFormat->setCurrentIndex(format);
    cbxSkip->setChecked(properties.Skip);
    for (const auto& [edit, property] : TextFields()) {
        edit->setText(QString::fromStdString(CellPropertyText(properties, property)));
        edit->setModified(false);
    }
    speTextSize->setValue(properties.TextSize);
    speButtonRadius->setValue(properties.ButtonRadius);
    cbTextAlign->setCurrentIndex(static_cast<int>(properties.TextAlign));
    cbTextWeight->setCurrentIndex(static_cast<int>(properties.TextWeight));
}

std::vector<std::pair<QLineEdit*, const char*>> TCellPanel::TextFields() const
{
    return { { edtText, "Text" }, { edtTextFont, "TextFont" }, { edtTextColor, "TextColor" },
        { edtTextPadding, "TextPadding" }, { edtButton, "Button" }, { edtButtonColor, "ButtonColor" },
        { edtButtonTextColor, "ButtonTextColor" } };
}

void TCellPanel::AddContentFields(QFormLayout* form)
{
    const auto addLine = [&](QLineEdit*& edit, const char* name, const QString& label, const char* property,
                             const QString& tip, const QString& placeholder) {
        edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(name));
        edit->setToolTip(tip);
        edit->setPlaceholderText(placeholder);
        form->addRow(label, edit);
        connect(edit, &QLineEdit::editingFinished, this, [this, edit, property] {
            if (edit->isModified())
                Edit(property, edit->text().toStdString());
            edit->setModified(false);
        });
    };
    const QString fromPicture = tr("From the picture");
    const auto addSize = [&](QSpinBox*& box, const char* name, const QString& label, const char* property,
                             int automatic, int maximum, const QString& tip) {
        box = new QSpinBox(this);
        box->setObjectName(QString::fromUtf8(name));
        box->setRange(automatic, maximum);
        box->setSuffix(tr(" px"));
        box->setSpecialValueText(fromPicture);
        box->setKeyboardTracking(false);
        box->setToolTip(tip);
        form->addRow(label, box);
        connect(box, &QSpinBox::valueChanged, this, [this, property, automatic](int value) {
            Edit(property, value == automatic ? std::string() : IntToStr(value));
        });
    };
    const auto addChoice = [&](QComboBox*& box, const char* name, const QString& label, const char* property,
                               const QStringList& items, std::vector<std::string> values) {
        box = new QComboBox(this);
        box->setObjectName(QString::fromUtf8(name));
        box->addItems(items);
        form->addRow(label, box);
        connect(box, &QComboBox::currentIndexChanged, this, [this, property, values](int index) {
            if (index >= 0 && size_t(index) < values.size())
                Edit(property, values[size_t(index)]);
        });
    };

    addLine(edtText, "edtText", tr("Te&xt:"), "Text",
        tr("Live text in place of the image; \n starts a new line"), QString());
    addLine(edtTextFont, "edtTextFont", tr("Font:"), "TextFont", tr("Font names, separated by commas"),
        QString::fromUtf8(kDefaultTextFont));
    addSize(speTextSize, "speTextSize", tr("Text size:"), "TextSize", 0, kMaxTextSize,
        tr("The text's size in CSS pixels"));
    addLine(edtTextColor, "edtTextColor", tr("Text colour:"), "TextColor", tr("RRGGBB, as for the fill"),
        fromPicture);
    addChoice(cbTextAlign, "cbTextAlign", tr("Align:"), "TextAlign",
        { fromPicture, tr("Left"), tr("Centre"), tr("Right") }, { "", "left", "center", "right" });
    addChoice(cbTextWeight, "cbTextWeight", tr("Weight:"), "TextWeight",
        { tr("Normal (buttons bold)"), tr("Normal"), tr("Bold") }, { "", "normal", "bold" });
    addLine(edtTextPadding, "edtTextPadding", tr("Padding:"), "TextPadding",
        tr("One to four sizes in CSS pixels, in CSS's order: top, right, bottom, left"), fromPicture);
    addLine(edtButton, "edtButton", tr("B&utton:"), "Button",
        tr("A button with this label in place of the image, leading to the link"), QString());
    addLine(edtButtonColor, "edtButtonColor", tr("Button colour:"), "ButtonColor", tr("RRGGBB"), fromPicture);
    addLine(edtButtonTextColor, "edtButtonTextColor", tr("Label colour:"), "ButtonTextColor", tr("RRGGBB"),
        fromPicture);
    addSize(speButtonRadius, "speButtonRadius", tr("Corner radius:"), "ButtonRadius", -1, kMaxButtonRadius,
        tr("The rounding of the button's corners in CSS pixels"));
}

void TCellPanel::ShowRefusal(const QString& message)
{
    lblRefusal->setText(message);
}

QString TCellPanel::Refusal() const
{
    return lblRefusal->text();
}

void TCellPanel::Edit(const char* property, const std::string& value)
{
    if (m_showing || !OnEdit)
        return;
    OnEdit(property, value);
}

void TCellPanel::EditSpan()
{
    const int columns = speSpanColumns->value();
    const int rows = speSpanRows->value();
    Edit("Span", columns == 1 && rows == 1 ? std::string() : IntToStr(columns) + "x" + IntToStr(rows));
}

void TCellPanel::EditFill()
{
    switch (static_cast<TCellFill>(cbFill->currentIndex())) {
    case TCellFill::Color:
        Edit("Fill", HexOf(m_fillColor).toStdString());
        break;
    case TCellFill::None:
    case TCellFill::Auto:
        Edit("Fill", kFillValues[cbFill->currentIndex()]);
        break;
    }
}

void TCellPanel::PickFillColor()
{
    const std::optional<QColor> chosen
        = ChooseColor ? ChooseColor(m_fillColor) : [this]() -> std::optional<QColor> {
        const QColor color = QColorDialog::getColor(m_fillColor, this, QStringLiteral("Fill colour"));
        return color.isValid() ? std::optional(color) : std::nullopt;
    }();
    if (!chosen)
        return;
    m_fillColor = *chosen;
    Edit("Fill", HexOf(m_fillColor).toStdString());
}

void TCellPanel::SuggestText()
{
    if (const QString text = DesignText ? DesignText() : QString(); m_cell && !text.isEmpty()) {
        m_reading = m_cell;
        ShowSuggestion(text);
        return;
    }
    const std::optional<TCellPixels> pixels = CellPixels ? CellPixels() : std::nullopt;
    if (!m_cell || !pixels || !m_suggester->Start(*pixels))
        return;
    m_reading = m_cell;
    btnSuggestText->setEnabled(false);
    btnSuggestText->setText(QStringLiteral("Reading the picture..."));
}

void TCellPanel::ShowSuggestion(const QString& text)
{
    const bool same = m_reading && m_reading == m_cell;
    m_reading.reset();
    btnSuggestText->setText(QStringLiteral("Su&ggest from picture"));
    btnSuggestText->setEnabled(m_cell.has_value());
    if (!same)
        return;
    if (text.isEmpty()) {
        ShowRefusal(QStringLiteral("No text could be read in the cell's picture."));
        return;
    }
    // Proposed, not taken: the edit is made when the user confirms the field.
    QLineEdit* field = m_textCell ? edtText : edtAlt;
    field->setText(text);
    field->setModified(true);
    field->setFocus();
    field->selectAll();
}

void TCellPanel::ShowFillColor(const QColor& color)
{
    QPixmap swatch(14, 14);
    swatch.fill(color);
    QPainter painter(&swatch);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    painter.end();
    btnFillColor->setIcon(QIcon(swatch));
}

} // namespace sw
