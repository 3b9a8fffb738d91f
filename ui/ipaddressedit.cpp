#include "ui/ipaddressedit.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QValidator>

namespace {

constexpr int kBoxes = 4;
constexpr int kMaxDigits = 3;
constexpr int kMaxOctet = 255;

// Four numbers of 0-255 separated by dots, blanks around the whole allowed.
std::optional<std::array<uint8_t, 4>> ParseDotted(const QString& text) {
    static const QRegularExpression dotted(
        QStringLiteral("^\\s*(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\s*$"));
    const QRegularExpressionMatch match = dotted.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    std::array<uint8_t, 4> octets{};
    for (int i = 0; i < kBoxes; ++i) {
        const int value = match.captured(i + 1).toInt();
        if (value > kMaxOctet) {
            return std::nullopt;
        }
        octets[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
    }
    return octets;
}

// True when no digit can be appended to the box's number without passing 255.
bool IsClosed(const QString& digits) {
    return digits.size() >= kMaxDigits || (!digits.isEmpty() && digits.toInt() * 10 > kMaxOctet);
}

// A box takes up to three digits worth at most 255. A whole dotted address is let through
// as well, so that a paste or a drop of one reaches the field, which spreads it out.
class OctetValidator : public QValidator {
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override {
        if (input.isEmpty()) {
            return Intermediate;
        }
        bool digits = input.size() <= kMaxDigits;
        for (const QChar c : input) {
            digits = digits && c.isDigit() && c.unicode() < 0x80;
        }
        if (digits) {
            return input.toInt() <= kMaxOctet ? Acceptable : Invalid;
        }
        return ParseDotted(input) ? Intermediate : Invalid;
    }
};

bool IsDigitKey(const QKeyEvent& event) {
    const QString text = event.text();
    return text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9');
}

}  // namespace

// One number box; the field decides what its keys do.
class IpAddressEdit::OctetBox : public QLineEdit {
public:
    OctetBox(IpAddressEdit& field, int index) : QLineEdit(&field), m_field(field), m_index(index) {
        setValidator(new OctetValidator(this));
        setAlignment(Qt::AlignCenter);
        setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 12);
        setObjectName(QStringLiteral("octet%1").arg(index + 1));
        // Only the first box is a tab stop; a click still puts the caret in any box.
        setFocusPolicy(index == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        connect(this, &QLineEdit::textEdited, this,
                [this](const QString& text) { m_field.OnEdited(m_index, text); });
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (m_field.BeforeKey(m_index, *event)) {
            event->accept();
            return;
        }
        const QString before = text();
        QLineEdit::keyPressEvent(event);
        if (IsDigitKey(*event) && text() != before) {
            m_field.AfterDigit(m_index);
        }
    }

private:
    IpAddressEdit& m_field;
    const int m_index;
};

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    for (int i = 0; i < kBoxes; ++i) {
        if (i > 0) {
            row->addWidget(new QLabel(QStringLiteral("."), this));
        }
        m_boxes[static_cast<size_t>(i)] = new OctetBox(*this, i);
        row->addWidget(m_boxes[static_cast<size_t>(i)]);
    }
    setFocusProxy(m_boxes[0]);
}

QLineEdit* IpAddressEdit::Box(int index) const {
    return m_boxes.at(static_cast<size_t>(index));
}

bool IpAddressEdit::IsBlank() const {
    for (const OctetBox* box : m_boxes) {
        if (!box->text().isEmpty()) {
            return false;
        }
    }
    return true;
}

std::optional<std::array<uint8_t, 4>> IpAddressEdit::Address() const {
    QStringList parts;
    for (const OctetBox* box : m_boxes) {
        parts << box->text();
    }
    return ParseDotted(parts.join(QLatin1Char('.')));
}

bool IpAddressEdit::SetAddress(const QString& dotted) {
    const auto octets = ParseDotted(dotted);
    if (!octets) {
        return false;
    }
    for (int i = 0; i < kBoxes; ++i) {
        m_boxes[static_cast<size_t>(i)]->setText(
            QString::number((*octets)[static_cast<size_t>(i)]));
    }
    return true;
}

void IpAddressEdit::Enter(int index, Caret caret) {
    OctetBox* box = m_boxes[static_cast<size_t>(index)];
    box->setFocus(Qt::OtherFocusReason);
    switch (caret) {
        case Caret::SelectAll:
            box->selectAll();
            break;
        case Caret::Start:
            box->setCursorPosition(0);
            break;
        case Caret::End:
            box->setCursorPosition(static_cast<int>(box->text().size()));
            break;
    }
}

bool IpAddressEdit::BeforeKey(int index, const QKeyEvent& event) {
    const int handedTo = m_handedTo;
    m_handedTo = -1;
    OctetBox* box = m_boxes[static_cast<size_t>(index)];
    const bool last = index == kBoxes - 1;
    const bool plainCaret = !box->hasSelectedText();
    const int caret = box->cursorPosition();
    const bool atEnd = caret == box->text().size();

    if (event.matches(QKeySequence::Paste) && SetAddress(QApplication::clipboard()->text())) {
        // A whole address replaces all four, whatever the box held.
        Enter(kBoxes - 1, Caret::End);
        return true;
    }
    if (event.text() == QStringLiteral(".")) {
        // A dot never enters a box. It closes the number typed in this box; right after a
        // full box handed over it only ends that number.
        if (handedTo != index && !box->text().isEmpty() && !last) {
            Enter(index + 1, Caret::SelectAll);
        }
        return true;
    }
    if (IsDigitKey(event) && plainCaret && atEnd && !last && box->text().size() >= kMaxDigits) {
        // Typing past three digits goes on in the next box.
        Enter(index + 1, Caret::SelectAll);
        QKeyEvent copy(event.type(), event.key(), event.modifiers(), event.text());
        QApplication::sendEvent(m_boxes[static_cast<size_t>(index + 1)], &copy);
        return true;
    }
    if ((event.key() == Qt::Key_Backspace || event.key() == Qt::Key_Left) && plainCaret &&
        caret == 0 && index > 0 && event.modifiers() == Qt::NoModifier) {
        Enter(index - 1, Caret::End);
        return true;
    }
    if (event.key() == Qt::Key_Right && plainCaret && atEnd && !last &&
        event.modifiers() == Qt::NoModifier) {
        Enter(index + 1, Caret::Start);
        return true;
    }
    return false;
}

void IpAddressEdit::AfterDigit(int index) {
    const OctetBox* box = m_boxes[static_cast<size_t>(index)];
    if (index < kBoxes - 1 && box->cursorPosition() == box->text().size() &&
        IsClosed(box->text())) {
        Enter(index + 1, Caret::SelectAll);
        m_handedTo = index + 1;
    }
}

void IpAddressEdit::OnEdited(int, const QString& text) {
    if (text.contains(QLatin1Char('.')) && SetAddress(text)) {
        Enter(kBoxes - 1, Caret::End);
    }
}

bool IpAddressEdit::focusNextPrevChild(bool next) {
    // The boxes are one stop: going back from any box starts from the first, so that the
    // step lands on what comes before the field.
    if (!next) {
        for (int i = 1; i < kBoxes; ++i) {
            if (m_boxes[static_cast<size_t>(i)]->hasFocus()) {
                m_boxes[0]->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return QWidget::focusNextPrevChild(next);
}
