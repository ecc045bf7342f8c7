#pragma once

// The application object: the one place where an exception that leaves an
// event handler is caught and shown.

#include <QApplication>

#include <exception>

namespace sw {

inline constexpr char kApplicationTitle[] = "Slicewright";

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The error box for an exception that reached the event loop: its message with
// the full-stop rule. The program carries on afterwards.
void ShowException(const std::exception& error);

} // namespace sw
