// Named parameters in statement texts: ":name" becomes a positional "?" marker.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace importacao {

// A statement text with its named parameters replaced by markers.
struct ScannedStatement {
  std::string text;                // the text with one "?" per parameter occurrence
  std::vector<std::string> names;  // the name of each marker, in order of occurrence
  friend bool operator==(const ScannedStatement&, const ScannedStatement&) = default;
};

// Scans a statement text once from the start:
//  - a colon outside a quoted literal and not followed by a second colon starts a name, which
//    runs up to (not including) the next line feed, carriage return, blank, ')', ',', ';' or the
//    end of the text; a name written in quotes right after the colon has its quotes removed;
//  - the colon and the name become a single "?", one per occurrence, even when a name repeats;
//  - two colons in a row stand for one literal colon;
//  - ', " and ` open and close quoted literals, in which a colon is an ordinary character.
// Never throws (except std::bad_alloc).
ScannedStatement scanNamedParameters(std::string_view statement);

}  // namespace importacao
