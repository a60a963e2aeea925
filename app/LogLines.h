#pragma once
// Read access to the log text as lines of Shift-JIS bytes. The analysis and the
// settings exchange read the log through this, so they can be driven without a window.
#include <QByteArray>
#include <QList>

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
};

// Lines held in memory: what tests and benchmarks feed the analysis with.
class ByteLines : public LineSource
{
public:
    ByteLines() = default;
    explicit ByteLines(QList<QByteArray> lines) : m_lines(std::move(lines)) {}
    // Splits text at CR LF, lone CR and lone LF; a closing line break adds no empty line.
    static ByteLines fromText(const QByteArray &text);

    int lineCount() const override { return int(m_lines.size()); }
    QByteArray line(int i) const override { return m_lines.at(i); }
    QList<QByteArray> &lines() { return m_lines; }

private:
    QList<QByteArray> m_lines;
};
