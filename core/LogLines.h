#pragma once
// Read access to the log text as lines of Shift-JIS bytes. The analysis and the
// settings exchange read the log through this, so they can be driven without a window.
#include <QByteArray>
#include <QList>

#include <functional>

class LineSource
{
public:
    virtual ~LineSource() = default;
    // Logical lines; a final empty line after a closing line break is not counted.
    virtual int lineCount() const = 0;
    // Line i (0-based) without its line break, as Shift-JIS bytes.
    virtual QByteArray line(int i) const = 0;
    // Index of the last line before `before` that equals text, or -1. Sources
    // that can compare without converting every line override it.
    virtual int lastLineEqualTo(const QByteArray &text, int before) const
    {
        for (int i = before - 1; i >= 0; --i) {
            if (line(i) == text)
                return i;
        }
        return -1;
    }
    // Calls visit(i, line) for every line, first to last. Sources that can walk
    // their lines faster than one line(i) at a time override it.
    virtual void scanLines(const std::function<void(int, const QByteArray &)> &visit) const
    {
        const int n = lineCount();
        for (int i = 0; i < n; ++i)
            visit(i, line(i));
    }
};

// Splits text at CR LF, lone CR and lone LF; a closing line break adds no empty line.
QList<QByteArray> SplitLines(const QByteArray &text);

// Lines held in memory: what tests and benchmarks feed the analysis with.
class ByteLines : public LineSource
{
public:
    ByteLines() = default;
    explicit ByteLines(QList<QByteArray> lines)
        : m_lines(std::move(lines))
    { }
    // The lines of text, split as SplitLines splits.
    static ByteLines fromText(const QByteArray &text);

    int lineCount() const override { return int(m_lines.size()); }
    QByteArray line(int i) const override { return m_lines.at(i); }
    QList<QByteArray> &lines() { return m_lines; }

private:
    QList<QByteArray> m_lines;
};
