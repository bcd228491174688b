// The listing on the clipboard: one clipboard entry that offers the same listing three ways.
//   "HTML Format"  the clipboard HTML text exactly as given (its offset header already built,
//                  Windows-1252 bytes, no conversion): what the host's long-text editor reads;
//   "text/html"    the HTML fragment in UTF-8, for other programs;
//   "text/plain"   the plain text in UTF-8, or the fragment when the plain text is empty.
// A format whose text is empty is left out.
//
// Failure: when there is no clipboard (no QGuiApplication) or the window system does not take
// the entry, PutListingOnClipboard raises rb::EOSError (code 5, "Access is denied.") and the
// clipboard keeps what it held. GUI thread only.
#pragma once

#include <QMimeData>
#include <memory>
#include <string>

namespace rb::ui {

// The name under which the host looks for HTML on the clipboard.
inline constexpr char kHtmlClipboardFormat[] = "HTML Format";

void PutListingOnClipboard(const std::string& clipboard_html, const std::string& fragment,
                           const std::string& plain);

// The entry PutListingOnClipboard offers.
std::unique_ptr<QMimeData> ListingMimeData(const std::string& clipboard_html,
                                           const std::string& fragment, const std::string& plain);

}  // namespace rb::ui
