#pragma once

// The application object: the one place where an exception that leaves the
// event loop's dispatch is caught and shown.

#include <QApplication>

namespace sw {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace sw
