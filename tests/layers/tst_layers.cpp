// The tree's layer rule: a folder includes only from the folders below it, and
// nothing below widgets/ sees a widget. Reads every #include of the sources.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

// Each folder with the folders it may include from (itself always).
const QMap<QString, QStringList> &allowedIncludes()
{
    static const QStringList ground{
        "core", "analysis", "journal", "serial", "device", "cells", "picture", "library", "packs", "labels"};
    static const QMap<QString, QStringList> allowed{
        {"core", {}},
        {"analysis", {"core"}},
        {"journal", {"core"}},
        {"serial", {"core"}},
        {"device", {"core"}},
        {"cells", {"core", "analysis"}},
        {"picture", {"core"}},
        {"library", {"core", "analysis", "cells"}},
        {"packs", {"core", "analysis", "cells", "library"}},
        {"labels", {"core"}},
        {"widgets", ground},
        {"forms", ground + QStringList{"widgets"}},
        {"app", ground + QStringList{"widgets", "forms"}},
        {"tools", {}},
    };
    return allowed;
}

// Headers behind a door: the folders that must go through it instead. The
// windows reach the cell library only through its service.
const QMap<QString, QStringList> &closedHeaders()
{
    static const QMap<QString, QStringList> closed{
        {"library/Library.h", {"widgets", "forms", "app"}},
    };
    return closed;
}

bool belowWidgets(const QString &folder)
{
    return folder != "widgets" && folder != "forms" && folder != "app";
}

struct Source {
    QString path; // relative to the top, "core/IniFile.cpp"
    QByteArray text;
};

// Every breach of the rule, as "file:line: what", in file order.
QStringList breaches(const QList<Source> &sources, const QSet<QString> &widgetHeaders)
{
    static const QRegularExpression include(QStringLiteral(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])"));
    QStringList found;
    for (const Source &s : sources) {
        const QString folder = s.path.section('/', 0, 0);
        if (!allowedIncludes().contains(folder)) {
            found << QStringLiteral("%1: folder %2 is not a layer").arg(s.path, folder);
            continue;
        }
        const QStringList may = allowedIncludes().value(folder) + QStringList{folder};
        const QList<QByteArray> lines = s.text.split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            const auto m = include.match(QString::fromUtf8(lines.at(i)));
            if (!m.hasMatch())
                continue;
            const QString where = QStringLiteral("%1:%2: ").arg(s.path).arg(i + 1);
            const QString name = m.captured(2);
            if (m.captured(1) == "\"") {
                const QString to = name.section('/', 0, 0);
                if (name.contains('/') && allowedIncludes().contains(to) && !may.contains(to))
                    found << where + QStringLiteral("%1 includes %2").arg(folder, name);
                else if (closedHeaders().value(name).contains(folder))
                    found << where + QStringLiteral("%1 includes %2, not its service").arg(folder, name);
                continue;
            }
            const QString base = name.section('/', -1);
            if (name.startsWith("QtWidgets/") || (belowWidgets(folder) && widgetHeaders.contains(base))) {
                if (belowWidgets(folder))
                    found << where + QStringLiteral("%1 includes the widget header <%2>").arg(folder, name);
            } else if (name == "qcustomplot.h" && folder != "widgets") {
                found << where + QStringLiteral("only widgets/ includes <qcustomplot.h>");
            } else if (name == "zint.h" && folder != "labels") {
                found << where + QStringLiteral("only labels/ includes <zint.h>");
            }
        }
    }
    return found;
}

QList<Source> treeSources(const QString &top)
{
    QList<Source> sources;
    for (const QString &folder : allowedIncludes().keys()) {
        QDirIterator it(top + '/' + folder, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly))
                sources.append({QDir(top).relativeFilePath(f.fileName()), f.readAll()});
        }
    }
    return sources;
}

QSet<QString> qtWidgetHeaders()
{
    QSet<QString> names;
    const QDir dir(QStringLiteral(QT_WIDGETS_INCLUDE_DIR));
    for (const QString &name : dir.entryList(QDir::Files))
        names.insert(name);
    return names;
}

} // namespace

class TestLayers : public QObject
{
    Q_OBJECT

private slots:
    void rule_data();
    void rule();
    void tree();
};

void TestLayers::rule_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("core from core") << "core/A.cpp" << QByteArray("#include \"core/B.h\"\n") << QStringList();
    QTest::newRow("forms from widgets and cells")
        << "forms/U.cpp" << QByteArray("#include \"widgets/W.h\"\n#include \"cells/C.h\"\n") << QStringList();
    QTest::newRow("core includes analysis") << "core/A.cpp" << QByteArray("// x\n#include \"analysis/T.h\"\n")
                                            << QStringList{"core/A.cpp:2: core includes analysis/T.h"};
    QTest::newRow("cells includes forms") << "cells/C.cpp" << QByteArray("  #  include \"forms/Uvoltrak.h\"\n")
                                          << QStringList{"cells/C.cpp:1: cells includes forms/Uvoltrak.h"};
    QTest::newRow("widgets includes forms") << "widgets/W.h" << QByteArray("#include \"forms/Forms.h\"\n")
                                            << QStringList{"widgets/W.h:1: widgets includes forms/Forms.h"};
    QTest::newRow("analysis includes serial, a sibling")
        << "analysis/T.cpp" << QByteArray("#include \"serial/Commx.h\"\n")
        << QStringList{"analysis/T.cpp:1: analysis includes serial/Commx.h"};
    QTest::newRow("picture includes a widget class")
        << "picture/P.cpp" << QByteArray("#include <QPainter>\n#include <QWidget>\n")
        << QStringList{"picture/P.cpp:2: picture includes the widget header <QWidget>"};
    QTest::newRow("serial includes the widgets module")
        << "serial/S.cpp" << QByteArray("#include <QtWidgets/QLabel>\n")
        << QStringList{"serial/S.cpp:1: serial includes the widget header <QtWidgets/QLabel>"};
    QTest::newRow("widgets includes widget classes")
        << "widgets/W.cpp" << QByteArray("#include <QWidget>\n") << QStringList();
    QTest::newRow("forms includes the chart library")
        << "forms/U.cpp" << QByteArray("#include <qcustomplot.h>\n")
        << QStringList{"forms/U.cpp:1: only widgets/ includes <qcustomplot.h>"};
    QTest::newRow("forms includes the library, not its service")
        << "forms/U.cpp" << QByteArray("#include \"library/LibraryService.h\"\n#include \"library/Library.h\"\n")
        << QStringList{"forms/U.cpp:2: forms includes library/Library.h, not its service"};
    QTest::newRow("packs includes the library")
        << "packs/P.cpp" << QByteArray("#include \"library/Library.h\"\n") << QStringList();
    QTest::newRow("labels includes packs") << "labels/L.cpp" << QByteArray("#include \"packs/PackPlan.h\"\n")
                                           << QStringList{"labels/L.cpp:1: labels includes packs/PackPlan.h"};
    QTest::newRow("packs includes Zint") << "packs/P.cpp" << QByteArray("#include <zint.h>\n")
                                         << QStringList{"packs/P.cpp:1: only labels/ includes <zint.h>"};
    QTest::newRow("an unknown folder") << "graph/G.cpp" << QByteArray()
                                       << QStringList{"graph/G.cpp: folder graph is not a layer"};
}

void TestLayers::rule()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    QCOMPARE(breaches({{path, text}}, {"QWidget", "QLabel", "QApplication"}), expected);
}

void TestLayers::tree()
{
    const QList<Source> sources = treeSources(QStringLiteral(SOURCE_DIR));
    QVERIFY2(sources.size() > 50, "the sources were not found");
    const QSet<QString> widgets = qtWidgetHeaders();
    QVERIFY2(widgets.contains("QWidget"), QT_WIDGETS_INCLUDE_DIR);
    const QStringList found = breaches(sources, widgets);
    QVERIFY2(found.isEmpty(), qPrintable(found.join('\n')));
}

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"
