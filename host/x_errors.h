// kv23's own X error handler. Xlib's default handler ends the process on
// any error, so one mistake of a plug-in's editor (a request on a window the
// host already destroyed, a BadMatch from a visual it did not expect) would
// end kv23 itself. Hosts install a handler that logs and goes on; so do we.
#pragma once

namespace kv::host {

// Installs the logging handler for the whole process (idempotent). Each
// error is one line on standard error; nothing else happens.
void installXErrorLog();

// Errors seen since the handler was installed.
int xErrorCount();

}  // namespace kv::host
