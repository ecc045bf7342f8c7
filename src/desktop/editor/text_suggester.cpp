#include "desktop/editor/text_suggester.h"

#include "core/text/cell_text.h"

#include <exception>
#include <utility>

namespace sw {

TTextSuggester::TTextSuggester(QObject* parent)
    : QObject(parent)
{ }

TTextSuggester::~TTextSuggester()
{
    if (m_worker.joinable())
        m_worker.join();
}

bool TTextSuggester::Start(TCellPixels pixels)
{
    if (m_running)
        return false;
    if (m_worker.joinable())
        m_worker.join();
    m_running = true;
    // The result goes through this object's event queue, so it reaches it
    // on its own thread; the destructor waits, so the object outlives it.
    m_worker = std::thread([this, pixels = std::move(pixels)] {
        QString text;
        QString failure;
        try {
            const TPixelView view { pixels.Bgr.data(), pixels.Width, pixels.Height,
                ptrdiff_t(pixels.Width) * 3, TPixelLayout::Bgr24 };
            TTextReader reader;
            text = QString::fromStdString(reader.Read(view, { 0, 0, pixels.Width, pixels.Height }).Text());
        } catch (const std::exception& error) {
            // The worker's edge: the panel shows why.
            failure = QString::fromStdString(WithFullStop(error.what()));
        }
        QMetaObject::invokeMethod(
            this,
            [this, text, failure] {
                m_running = false;
                if (failure.isEmpty())
                    emit Finished(text);
                else
                    emit Failed(failure);
            },
            Qt::QueuedConnection);
    });
    return true;
}

} // namespace sw
