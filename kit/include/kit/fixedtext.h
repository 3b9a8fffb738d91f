#pragma once
// The one conversion between QString and the 260-byte UTF-8 fields of the records. A text
// that does not fit is refused, never cut short.

#include <QString>
#include <cstddef>

namespace fixedtext {

// Copies text as UTF-8 with a NUL into dest[0..size); false (dest untouched) when the bytes
// and the NUL do not fit.
bool ToFixed(const QString& text, char* dest, size_t size);
template <size_t N>
bool ToFixed(const QString& text, char (&dest)[N]) {
    return ToFixed(text, dest, N);
}
QString FromFixed(const char* text);

}  // namespace fixedtext
