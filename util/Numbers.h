// The program-wide number settings and the helpers that read, convert, round, format and split
// amounts and replies with them.
//
// The settings are fixed once at start (InitNumberSettings: defaults, then "RUZEVED.INI" beside
// the program) before any other thread runs, and only read afterwards; they never follow the
// system's regional settings. Nothing here raises: text that is not a number reads as 0, and
// a settings file that is missing or unreadable, or holds garbage, leaves the defaults.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rb {

class TIniFile;

struct TNumberSettings {
  char DecimalSeparator = ',';
  char ThousandSeparator = '.';
  char DateSeparator = '.';
  int CurrencyDecimals = 2;
  std::string CurrencyString = " \x80";  // a blank and the euro sign
  int CurrencyFormat = 1;                // amount, then symbol: "12,50 €" (blank in the symbol)
  int NegCurrFormat = 5;                 // minus, amount, symbol: "-12,50 €"
  // Amounts from NetToGross and GrossToNet are rounded to 0.05 (Swiss francs).
  bool FiveHundredthsRounding = false;
  // "EINZELNOT5RAPPEN" and "NACHKOMMA3" (0, 1 or 4): kept for the program, unused here.
  bool SingleAmountsFiveRappen = false;
  int ThirdDecimalMode = 0;
};

// The settings in force.
const TNumberSettings& NumberSettings();
// Replaces the settings in force (at start, and in tests).
void SetNumberSettings(const TNumberSettings& settings);

// The defaults changed by an INI file's "EUCHAR", "CH-CHAR" and "COUNTRY" sections.
TNumberSettings NumberSettingsFromIni(const TIniFile& ini);
// Sets the settings from the defaults and "RUZEVED.INI" in the program's folder.
void InitNumberSettings();

// A decimal number in the program's notation: blanks, sign, digits with at most one decimal
// separator (no thousands separators), an optional exponent, blanks. With the defaults
// "1234,50" gives 1234.5 and "1.234,50" gives 0. Anything else, "" included, gives 0.
long double TextToNumber(std::string_view text);

// net + rate% of net, and back; both pass through RoundToFiveHundredths. A rate of -100 has no
// net amount: GrossToNet then gives 0.
double NetToGross(double net, double rate);
double GrossToNet(double gross, double rate);

// To the nearest 0.05, halves away from zero, when FiveHundredthsRounding is on; else unchanged.
double RoundToFiveHundredths(double x);

// Cuts text at each separator. max_pieces > 0 makes the last piece take the rest unchanged;
// a separator at the very end adds no empty piece; final_length > 0 pads with empty texts or
// cuts the list to that length (a negative one is ignored: no list has that length). Empty text
// or negative max_pieces gives an empty list, unpadded; an empty separator gives the whole text
// as the first piece, padded like any other list so that callers may index up to final_length.
// SplitText(",", "a,b,c,d,e", 4, 4) gives a, b, c, "d,e".
std::vector<std::string> SplitText(std::string_view separator, std::string_view text,
                                   int max_pieces, int final_length);

// The display format "#,0.00": 1234.5 gives "1.234,50", 0 gives "0,00", -0.5 gives "-0,50".
std::string FormatAmount(double value);
// The edit format "#.00": 1234.5 gives "1234,50", 0 gives ",00", -0.5 gives "-,50".
std::string FormatAmountPlain(double value);

}  // namespace rb
