#pragma once

// The Cells mode's side panel: the selected cell's label, size and
// properties, each control handing its value on as the text a project file
// holds for it. The panel keeps nothing: its owner checks each edit and
// shows the cell again, or shows the refusal.

#include "core/project/cell_properties.h"
#include "desktop/editor/text_suggester.h"

#include <QColor>
#include <QSize>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace sw {

class TCellPanel : public QWidget {
    Q_OBJECT
public:
    explicit TCellPanel(QWidget* parent = nullptr);

    // Shows the cell with its properties, its file's base name as the name
    // field's placeholder and its pixel size (a span's whole area); nothing
    // selected disables the fields. The refusal shown is cleared.
    void ShowCell(std::optional<TCellRef> cell, const TCellProperties& properties,
        const std::string& defaultName, QSize pixels);
    // The core's message for an edit that was not taken.
    void ShowRefusal(const QString& message);
    QString Refusal() const;

    // An edit: the property's name as the project file writes it, and its value.
    std::function<void(const std::string& property, const std::string& value)> OnEdit;
    // Asks for a fill colour; empty when cancelled. Tests answer in place
    // of the user; empty means the colour dialog.
    std::function<std::optional<QColor>(const QColor& initial)> ChooseColor;
    // The pixels of the cell shown, for Suggest from picture; none without
    // a picture.
    std::function<std::optional<TCellPixels>()> CellPixels;
    // The text the design file itself gives the cell shown (its text
    // layers); Suggest from picture proposes it instead of reading pixels.
    std::function<QString()> DesignText;

    QLabel* lblCell = nullptr;
    QLineEdit* edtName = nullptr;
    QLineEdit* edtAlt = nullptr;
    QPushButton* btnSuggestText = nullptr;
    QLineEdit* edtLink = nullptr;
    QSpinBox* speSpanColumns = nullptr;
    QSpinBox* speSpanRows = nullptr;
    QComboBox* cbFill = nullptr;
    QToolButton* btnFillColor = nullptr;
    QComboBox* cbFormat = nullptr;
    QCheckBox* cbxSkip = nullptr;
    // Live text or a button in place of the image, each field holding the
    // value as the project writes it; empty is the default.
    QLineEdit* edtText = nullptr;
    QLineEdit* edtTextFont = nullptr;
    QSpinBox* speTextSize = nullptr; // 0: from the picture
    QLineEdit* edtTextColor = nullptr;
    QComboBox* cbTextAlign = nullptr;
    QComboBox* cbTextWeight = nullptr;
    QLineEdit* edtTextPadding = nullptr;
    QLineEdit* edtButton = nullptr;
    QLineEdit* edtButtonColor = nullptr;
    QLineEdit* edtButtonTextColor = nullptr;
    QSpinBox* speButtonRadius = nullptr; // -1: from the picture
    QLabel* lblRefusal = nullptr;

private:
    void Edit(const char* property, const std::string& value);
    void AddContentFields(QFormLayout* form);
    // The fields whose values are the property's text, by property name.
    std::vector<std::pair<QLineEdit*, const char*>> TextFields() const;
    void EditSpan();
    void EditFill();
    void PickFillColor();
    void ShowFillColor(const QColor& color);
    void SuggestText();
    void ShowSuggestion(const QString& text);

    QColor m_fillColor = Qt::white;
    std::optional<TCellRef> m_cell;
    // The cell whose text is being read: a result for another is dropped.
    std::optional<TCellRef> m_reading;
    TTextSuggester* m_suggester = nullptr;
    // A text cell: Suggest from picture proposes its text, not its alt.
    bool m_textCell = false;
    // Set while the controls are being filled: their signals are no edits.
    bool m_showing = false;
};

} // namespace sw
