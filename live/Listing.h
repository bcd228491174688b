// The listing that "Auflistung kopieren " puts on the clipboard: the positions billed before
// this invoice, as an HTML fragment for a long text of Kontorix and as tab-separated plain text.
//
// Which rows: 1 .. N-3 of the grid (N rows, the header included): every shown position but the
// last two, which are this invoice's own line and its deduction. A grid with three data rows
// lists one position; with two or fewer the listing has no position.
//
// HTML fragment, one string without line breaks (texts through EncodeHtmlChars):
//   <table style="width:100%">
//   <tr><th>Position</th><th>Description1</th><th  align=right>PRICE</th></tr>   per row
//   </Table>
//   <table style="width:100%"><tr><th colspan="2"></b>Auftragssumme einschliesslich diese
//   Rechnung Netto/Brutto:<b></th><th  align=right>EditSumme</th></tr></Table>
// Plain text, per row: Position TAB Description1 TAB PRICE CR LF, not encoded; no sum line.
//
// BuildClipboardHtml wraps a fragment of L bytes in the clipboard's "HTML Format" with byte
// offsets in a 97-byte header:
//   Version:1.0\r\n StartHTML:00000097\r\n EndHTML:<L+205>\r\n StartFragment:00000172\r\n
//   EndFragment:<L+172>\r\n <sHtml><head><title>HTML clipboard</title></head><body>
//   <!--StartFragment-->fragment<!--EndFragment--></body></sHtml>
// each number with at least eight digits; L = 1000 gives EndHTML:00001205, EndFragment:00001172.
//
// Texts are 8-bit Windows-1252. Nothing here raises except on memory exhaustion.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace rb::live {

// Windows-1252 characters as HTML 4.01 entities: 0x94 "&rdquo;", 0x93 "&ldquo;", 0x91
// "&lsquo;", 0x89 "&permil;", 0x80 "&euro;", 0x9C "&oelig;", 0x9F "&Yuml;", and 0xA1 ... 0xFF
// their Latin-1 entities ("&iexcl;" ... "&yuml;"). Everything else stays as it is: the no-break
// space 0xA0, the other bytes 0x80 ... 0x9F, and '&', '<', '>' and '"' (the listing's texts are
// meant to keep their markup). "Gr\xF6\xDF" "e" -> "Gr&ouml;&szlig;e".
std::string EncodeHtmlChars(const std::string& text);

// The header of the clipboard text for a fragment of fragment_length bytes (see above). Should
// a number need more than eight digits, the header grows and every offset counts that in.
std::string ClipboardHtmlHeader(size_t fragment_length);
// The whole clipboard text for the fragment.
std::string BuildClipboardHtml(const std::string& fragment);

struct TListing {
  std::string html;   // the HTML fragment
  std::string plain;  // the plain text
};

// The cell text of a grid row as shown, by field name ("Position", "Description1", "PRICE").
using TCellText = std::function<std::string(const std::string& field, int row)>;

// The listing of a grid of row_count rows whose cells cell gives, with the text of EditSumme.
TListing BuildListing(int row_count, const TCellText& cell, const std::string& order_sum_text);

// The text that goes on the clipboard as plain text: plain, or the fragment when plain is empty.
std::string ClipboardPlainText(const TListing& listing);

// The message shown once the listing is on the clipboard.
inline constexpr const char* kListingCopiedInfo =
    "Die Daten k\xF6nnen Sie in einen Langtext in KX einf\xFCgen<br><font color=\"clgray\" "
    "/font>(Men\xFC Bearbeiten Einf\xFCgen als.. HTML)";

}  // namespace rb::live
