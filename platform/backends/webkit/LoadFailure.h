// A load that fails, as the Windows control reports it (NavigateError), and the control's res:
// addresses, which name the program's own pages.
#pragma once

#include "backends/gtk/WebKitModule.h"

#include <webkit2/webkit2.h>

namespace velmora::platform {

// The StatusCode Windows gives for the failure WebKit reports for a top-level load, or S_OK
// for the ends of a load that are no failure of the site (cancelled by a newer load or by a
// policy decision, handed to a plugin).
HRESULT StatusOfLoadFailure(const GError* error);

// Serves res: addresses in context from the program's resources (events.resourcePage), as a
// local scheme: pages of other schemes can neither load nor link to them, and what they show
// may load nothing at all (the Windows control shows them in the Local Machine zone, whose
// lockdown runs no script).
void ServeResourcePages(WebKitWebContext* context, const BrowserEvents& events);

} // namespace velmora::platform
