#pragma once

// Reaching a window's widgets by their object names.

#include <QObject>
#include <QString>

#include <stdexcept>
#include <string>

namespace sw {

// The named child; a missing one fails the test rather than crashing it.
template <typename Widget> Widget* Child(const QObject& parent, const char* name)
{
    if (auto* child = parent.findChild<Widget*>(QString::fromUtf8(name)))
        return child;
    throw std::runtime_error(std::string("no child named ") + name);
}

} // namespace sw
