#pragma once

// Reads the text of one cell on a worker thread and reports back on the
// thread that owns it, through a queued call: reading takes a second or
// two, which the window must not wait for.

#include <QObject>
#include <QString>

#include <cstdint>
#include <thread>
#include <vector>

namespace sw {

// A copy of a cell's pixels: 24-bit rows, blue first, without padding.
struct TCellPixels {
    std::vector<uint8_t> Bgr;
    int Width = 0;
    int Height = 0;
};

class TTextSuggester : public QObject {
    Q_OBJECT
public:
    explicit TTextSuggester(QObject* parent = nullptr);
    // Waits for a reading under way; its result is dropped.
    ~TTextSuggester() override;

    // Starts reading pixels, unless a reading is under way (false then).
    bool Start(TCellPixels pixels);
    bool IsRunning() const { return m_running; }

signals:
    // The words read, joined by spaces; empty when the cell shows none.
    void Finished(const QString& text);
    void Failed(const QString& message);

private:
    std::thread m_worker;
    bool m_running = false;
};

} // namespace sw
