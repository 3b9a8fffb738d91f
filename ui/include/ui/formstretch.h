#pragma once
// Lets a form whose children sit at fixed positions grow with its window: each child added
// moves and grows by its own share of the growth beyond the form's size when the stretch was
// made (never below it). Watches the form's resize events. UI thread only.

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <vector>

class FormStretch : public QObject {
public:
    // Shares of the growth, 0 to 1: how far a child moves right and down, how much wider
    // and taller it gets.
    struct Share {
        double moveX = 0;
        double moveY = 0;
        double growX = 0;
        double growY = 0;
    };

    explicit FormStretch(QWidget* form);
    // Takes the child's present geometry as its place at the base size.
    void Add(QWidget* child, Share share);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QPointer<QWidget> widget;
        QRect base;
        Share share;
    };
    void Apply(const QSize& size);

    QSize m_base;
    std::vector<Entry> m_entries;
};
