#pragma once

// The edge where an exception that leaves an event handler is caught and
// shown in the error box.

#include <exception>

namespace sw {

// The error box for an exception that reached the event loop: its message with
// the full-stop rule. The program carries on afterwards.
void ShowException(const std::exception& error);

// Runs an event handler. A failure is shown at the handler's edge, in the
// same box as any other, and never unwinds through the toolkit's event
// dispatch, which is not built to carry exceptions.
template <typename Handler> void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    }
}

// A handler without arguments as a slot that runs it through RunHandler.
template <typename Object> auto Guarded(Object* object, void (Object::*handler)())
{
    return [object, handler] { RunHandler([object, handler] { (object->*handler)(); }); };
}

} // namespace sw
