#pragma once
// Records the program's message boxes instead of showing them, for as long as
// the recorder lives; the real boxes come back when it is destroyed.
#include "widgets/ErrorDisplay.h"

#include <QList>
#include <QString>
#include <QStringList>

class BoxRecorder
{
public:
    struct Box {
        errors::BoxKind kind;
        QString title;
        QString text;
    };

    BoxRecorder()
    {
        errors::SetBoxHook([this](errors::BoxKind kind, const QString &title, const QString &text) {
            m_boxes.append({kind, title, text});
        });
    }
    ~BoxRecorder() { errors::SetBoxHook({}); }
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    // Each box as "title|text", in the order shown.
    QStringList texts() const
    {
        QStringList out;
        for (const Box &b : m_boxes)
            out << b.title + QLatin1Char('|') + b.text;
        return out;
    }
    // "title|text" of the boxes of one kind.
    QStringList texts(errors::BoxKind kind) const
    {
        QStringList out;
        for (const Box &b : m_boxes) {
            if (b.kind == kind)
                out << b.title + QLatin1Char('|') + b.text;
        }
        return out;
    }
    // The texts alone of the boxes of one kind.
    QStringList textsOf(errors::BoxKind kind) const
    {
        QStringList out;
        for (const Box &b : m_boxes) {
            if (b.kind == kind)
                out << b.text;
        }
        return out;
    }
    const Box &at(int i) const { return m_boxes.at(i); }
    int size() const { return int(m_boxes.size()); }
    bool isEmpty() const { return m_boxes.isEmpty(); }
    void clear() { m_boxes.clear(); }

private:
    QList<Box> m_boxes;
};
