#pragma once
// Keeps the bays of one channel in the library: brought back when the
// program starts, written when they change, and following the library's
// cells, so a cell renamed in the library shows its new label in its bay and
// a label typed becomes its cell as soon as the library has one.
#include "library/Records.h"

#include <QObject>
#include <QTimer>

namespace library {

class BayAssignment;
class LibraryService;

class BayKeeper : public QObject
{
    Q_OBJECT
public:
    // Asks the library for the bays kept for channel at once.
    BayKeeper(BayAssignment *bays, LibraryService *service, int channel, QObject *parent = nullptr);
    // Hands what is not written yet to the service, which must still be there.
    ~BayKeeper() override;

    // How long a change waits for the next before it is written: a label is
    // typed a letter at a time.
    static constexpr int SaveDelayMs = 400;

signals:
    // The kept bays are in the assignment (or none were kept).
    void loaded();
    // The bays could not be kept; the text is for the user.
    void failed(const QString &text);

private:
    void load();
    // A server library reached again: what could not be read or kept then is now.
    void reconnected();
    void assignmentChanged();
    void resolve();
    void save();

    BayAssignment *m_bays;
    LibraryService *m_service;
    const int m_channel;
    bool m_loaded = false;
    bool m_typedBeforeLoad = false;
    bool m_loadedStale = false; // the server was away when the kept bays were asked for
    bool m_unsaved = false; // the server was away when they were to be kept
    QTimer m_saveTimer;
};

} // namespace library
