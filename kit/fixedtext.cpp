#include "kit/fixedtext.h"

#include <QByteArray>
#include <cstring>

namespace fixedtext {

bool ToFixed(const QString& text, char* dest, size_t size) {
    const QByteArray bytes = text.toUtf8();
    const auto length = static_cast<size_t>(bytes.size());
    if (dest == nullptr || length >= size) {
        return false;
    }
    std::memcpy(dest, bytes.constData(), length);
    dest[length] = '\0';
    return true;
}

QString FromFixed(const char* text) {
    return text == nullptr ? QString() : QString::fromUtf8(text);
}

}  // namespace fixedtext
