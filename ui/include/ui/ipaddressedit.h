#pragma once
// An IPv4 address field of four number boxes that behaves as desktop address fields do:
// "." goes on to the next box, a box that can take no further digit hands the next digit
// to the next box, Backspace or Left at the start of a box goes back, Right at its end
// goes on, and a whole dotted address pasted or dropped into any box fills all four. The
// four boxes are one tab stop: Tab leaves the field, Shift+Tab comes back to its first
// box. UI thread only.

#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>

class QKeyEvent;
class QLineEdit;

class IpAddressEdit : public QWidget {
    Q_OBJECT

public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // Box 0 holds the most significant number.
    QLineEdit* Box(int index) const;
    // True when every box is empty.
    bool IsBlank() const;
    // The four numbers, first first; empty unless every box holds one of 0-255.
    std::optional<std::array<uint8_t, 4>> Address() const;
    // Fills the four boxes; an address that is not four numbers of 0-255 changes nothing.
    bool SetAddress(const QString& dotted);

protected:
    bool focusNextPrevChild(bool next) override;

private:
    class OctetBox;

    // Key handling of box `index` before the box sees the key; true when it was used up.
    bool BeforeKey(int index, const QKeyEvent& event);
    // After the box took a typed digit: a box that can take no further digit hands over.
    void AfterDigit(int index);
    // A box's text changed by the user: a whole address (a paste, a drop) fills all four.
    void OnEdited(int index, const QString& text);
    // Where the caret lands in a box that is entered.
    enum class Caret { SelectAll, Start, End };
    void Enter(int index, Caret caret);

    std::array<OctetBox*, 4> m_boxes{};
    // The box that a full box handed over to; a "." typed right after it belongs to the
    // number just finished, not to this box.
    int m_handedTo = -1;
};
