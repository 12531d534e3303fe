#pragma once
// Finding the desktop windows of the mail client's explorers and inspectors from what the
// object model tells of them (caption and rectangle), and an explorer's reading pane among
// its child windows.
#include "common/hresult.h"
#include "platform/desktop/desktop.h"
#include "platform/mail/mail_client.h"

namespace qv::mail::addin {

enum class ClientWindowKind { Explorer, Inspector };

// The first window with exactly the caption and rectangle: for an inspector the foreground
// window, then the window under (left + 1, top + 1), then any top-level window; for an
// explorer any top-level window. HresultFromWin32(ERROR_NOT_FOUND) when none matches.
HRESULT FindClientWindow(const platform::Desktop& desktop, const platform::mail::ClientWindowInfo& info,
                         ClientWindowKind kind, platform::DesktopWindow& out);

// The reading pane of an explorer window: the first visible, non-pop-up child of the dialog
// class that holds a browser or rich-edit view somewhere below it, or has at least five
// children of its own. 0 when there is none.
platform::DesktopWindow FindReadingPane(const platform::Desktop& desktop,
                                        platform::DesktopWindow explorer);

}  // namespace qv::mail::addin
