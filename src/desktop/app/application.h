#pragma once

// The application object: the one place where an exception that leaves the
// event loop's dispatch is caught and shown.

#include <QApplication>
#include <QIcon>

namespace sw {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The installed theme's icon, else the one built into the program.
QIcon ApplicationIcon();

} // namespace sw
