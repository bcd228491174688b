#include "live/Listing.h"

#include <array>
#include <cstdio>

namespace rb::live {

namespace {

// The Latin-1 entities of HTML 4.01 for 0xA1 ... 0xFF.
constexpr const char* kLatin1Entities[] = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",
    "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",
    "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",
    "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute",
    "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave",
    "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",    "ntilde",
    "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml",
};
static_assert(std::size(kLatin1Entities) == 0xFF - 0xA1 + 1);

// One entity per byte, or none. Replacing the table's characters one after another and
// replacing each byte in one pass give the same text, because an entity consists of ASCII
// only and so never contains a character of the table.
std::array<std::string, 256> MakeEntityTable() {
  std::array<std::string, 256> table;
  table[0x94] = "&rdquo;";
  table[0x93] = "&ldquo;";
  table[0x91] = "&lsquo;";
  table[0x89] = "&permil;";
  table[0x80] = "&euro;";
  table[0x9C] = "&oelig;";
  table[0x9F] = "&Yuml;";
  for (size_t i = 0; i < std::size(kLatin1Entities); ++i)
    table[0xA1 + i] = std::string("&") + kLatin1Entities[i] + ";";
  return table;
}

constexpr const char kHtmlPrefix[] =
    "<sHtml><head><title>HTML clipboard</title></head><body><!--StartFragment-->";
constexpr const char kHtmlSuffix[] = "<!--EndFragment--></body></sHtml>";
constexpr size_t kPrefixLength = sizeof(kHtmlPrefix) - 1;
constexpr size_t kSuffixLength = sizeof(kHtmlSuffix) - 1;

std::string HeaderLine(const char* label, size_t number) {
  char line[64];
  std::snprintf(line, sizeof line, "%s%.8zu\r\n", label, number);
  return line;
}

std::string Header(size_t start_html, size_t end_html, size_t start_fragment, size_t end_fragment) {
  return "Version:1.0\r\n" + HeaderLine("StartHTML:", start_html) +
         HeaderLine("EndHTML:", end_html) + HeaderLine("StartFragment:", start_fragment) +
         HeaderLine("EndFragment:", end_fragment);
}

constexpr const char kTableStart[] = "<table style=\"width:100%\">";
constexpr const char kTableEnd[] = "</Table>";
constexpr const char kRightCell[] = "<th  align=right>";
constexpr const char kSumLabel[] =
    "</b>Auftragssumme einschliesslich diese Rechnung Netto/Brutto:<b>";

}  // namespace

std::string EncodeHtmlChars(const std::string& text) {
  static const std::array<std::string, 256> table = MakeEntityTable();
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const std::string& entity = table[static_cast<unsigned char>(c)];
    if (entity.empty()) {
      out += c;
    } else {
      out += entity;
    }
  }
  return out;
}

std::string ClipboardHtmlHeader(size_t fragment_length) {
  // The header's length depends on the numbers in it; with eight digits each it is 97 bytes.
  size_t header_length = 97;
  for (;;) {
    const size_t start_fragment = header_length + kPrefixLength;
    const size_t end_fragment = start_fragment + fragment_length;
    const std::string header =
        Header(header_length, end_fragment + kSuffixLength, start_fragment, end_fragment);
    if (header.size() == header_length) return header;
    header_length = header.size();
  }
}

std::string BuildClipboardHtml(const std::string& fragment) {
  return ClipboardHtmlHeader(fragment.size()) + kHtmlPrefix + fragment + kHtmlSuffix;
}

TListing BuildListing(int row_count, const TCellText& cell, const std::string& order_sum_text) {
  TListing listing;
  std::string& html = listing.html;
  html = kTableStart;
  for (int row = 1; row <= row_count - 3; ++row) {
    const std::string position = cell("Position", row);
    const std::string description = cell("Description1", row);
    const std::string price = cell("PRICE", row);
    html += "<tr><th>" + EncodeHtmlChars(position) + "</th><th>" + EncodeHtmlChars(description) +
            "</th>" + kRightCell + EncodeHtmlChars(price) + "</th></tr>";
    listing.plain += position + "\t" + description + "\t" + price + "\r\n";
  }
  html += kTableEnd;
  html += kTableStart;
  html += "<tr><th colspan=\"2\">" + EncodeHtmlChars(kSumLabel) + "</th>" + kRightCell +
          EncodeHtmlChars(order_sum_text) + "</th></tr>" + kTableEnd;
  return listing;
}

std::string ClipboardPlainText(const TListing& listing) {
  return listing.plain.empty() ? listing.html : listing.plain;
}

}  // namespace rb::live
