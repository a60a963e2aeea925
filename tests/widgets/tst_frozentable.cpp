// The table whose first column stays in view: scrolled sideways the label is
// still drawn at the left edge, over the same rows, selection and order.
#include "widgets/FrozenTableView.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

class TestFrozenTable : public QObject
{
    Q_OBJECT
    QStandardItemModel m_model{40, 12};
    std::unique_ptr<FrozenTableView> m_view;

    // The label of the row the overlay shows at y in the view's viewport.
    QString frozenTextAt(int y) const
    {
        const QTableView *f = m_view->frozenView();
        const QPoint at = f->viewport()->mapFromGlobal(m_view->viewport()->mapToGlobal(QPoint(2, y)));
        return f->indexAt(at).data().toString();
    }

private slots:
    void init()
    {
        for (int r = 0; r < m_model.rowCount(); ++r)
            for (int c = 0; c < m_model.columnCount(); ++c)
                m_model.setItem(r, c,
                    new QStandardItem(c == 0 ? QStringLiteral("E-%1").arg(r, 2, 10, QLatin1Char('0'))
                                             : QStringLiteral("figure %1.%2").arg(r).arg(c)));
        m_view = std::make_unique<FrozenTableView>();
        m_view->setModel(&m_model);
        m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_view->setSortingEnabled(true);
        m_view->resize(320, 240);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->resizeColumnsToContents();
    }
    void cleanup() { m_view.reset(); }

    // Wherever the table is scrolled to, the overlay covers the first column
    // exactly and shows the labels of the rows beside it.
    void labelStaysInView_data()
    {
        QTest::addColumn<double>("across"); // of the horizontal scroll range
        QTest::addColumn<int>("down"); // rows scrolled
        QTest::newRow("start") << 0.0 << 0;
        QTest::newRow("half way across") << 0.5 << 0;
        QTest::newRow("far right, rows down") << 1.0 << 12;
    }
    void labelStaysInView()
    {
        QFETCH(double, across);
        QFETCH(int, down);
        QScrollBar *h = m_view->horizontalScrollBar();
        QVERIFY2(h->maximum() > 0, "the columns must be wider than the view");
        h->setValue(int(h->maximum() * across));
        m_view->scrollTo(m_model.index(down, 5), QAbstractItemView::PositionAtTop);
        QTRY_COMPARE(m_view->frozenView()->verticalScrollBar()->value(), m_view->verticalScrollBar()->value());
        const QTableView *f = m_view->frozenView();
        QVERIFY(f->isVisible());
        QCOMPARE(f->geometry().left(), m_view->viewport()->x()); // beside the row numbers
        QCOMPARE(f->width(), m_view->columnWidth(0));
        for (int c = 1; c < m_model.columnCount(); ++c)
            QVERIFY(f->isColumnHidden(c));
        // The row beside each label is the label's row.
        const int y = m_view->rowViewportPosition(down + 2) + 3;
        QCOMPARE(frozenTextAt(y), m_model.index(down + 2, 0).data().toString());
        QCOMPARE(m_view->indexAt(QPoint(m_view->viewport()->width() - 5, y)).row(), down + 2);
    }

    // Clicks on the overlay choose and open rows of the table; its header sorts the table.
    void overlayActsAsTheTable()
    {
        QTableView *f = m_view->frozenView();
        QCOMPARE(f->selectionModel(), m_view->selectionModel());
        QSignalSpy opened(m_view.get(), &QTableView::doubleClicked);
        const QRect cell = f->visualRect(f->model()->index(3, 0));
        QTest::mouseClick(f->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(m_view->currentIndex().row(), 3);
        QVERIFY(m_view->selectionModel()->isRowSelected(3, {}));
        QTest::mouseDClick(f->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(opened.count(), 1);
        QCOMPARE(opened.first().first().toModelIndex().row(), 3);

        m_view->sortByColumn(0, Qt::AscendingOrder);
        const int header = f->horizontalHeader()->sectionViewportPosition(0) + 5;
        QTest::mouseClick(f->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(header, 5));
        QCOMPARE(m_view->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(m_model.index(0, 0).data().toString(), QStringLiteral("E-39"));
        QCOMPARE(f->horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    }
};

QTEST_MAIN(TestFrozenTable)
#include "tst_frozentable.moc"
