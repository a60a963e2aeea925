#include "library/BayKeeper.h"
#include "library/Capture.h"
#include "library/LibraryService.h"

namespace library {

BayKeeper::BayKeeper(BayAssignment *bays, LibraryService *service, int channel, QObject *parent)
    : QObject(parent)
    , m_bays(bays)
    , m_service(service)
    , m_channel(channel)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(SaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &BayKeeper::save);
    connect(m_bays, &BayAssignment::changed, this, &BayKeeper::assignmentChanged);
    connect(m_service, &LibraryService::changed, this, [this](Changes what) {
        if (what & Change::Cells)
            resolve();
    });
    connect(m_service, &LibraryService::connectionChanged, this, [this](bool connected, int) {
        if (connected)
            reconnected();
    });
    load();
}

void BayKeeper::load()
{
    m_service->readKeptBays(m_channel, this, [this](const Reply<QList<BayCell>> &r) {
        m_loaded = true;
        m_loadedStale = r.stale;
        // A library that did not open was warned about once; the bays then
        // simply start empty. What was typed before the answer came stands.
        if (r.ok() && !m_typedBeforeLoad)
            m_bays->setCells(r.value);
        else if (m_typedBeforeLoad)
            m_saveTimer.start();
        emit loaded();
    });
}

void BayKeeper::reconnected()
{
    if (m_loadedStale && !m_typedBeforeLoad) {
        // Nothing typed meanwhile: the bays kept on the server come back.
        m_loaded = false;
        load();
    } else if (m_unsaved) {
        save();
    }
}

BayKeeper::~BayKeeper()
{
    // At close no answer can come back here: a failure goes to the service's failed().
    if (m_saveTimer.isActive() || m_unsaved)
        m_service->keepBays(m_channel, m_bays->cells(), nullptr, nullptr);
}

void BayKeeper::assignmentChanged()
{
    // Typed while the kept bays were out of reach: these are the bays now.
    m_loadedStale = false;
    if (!m_loaded) {
        m_typedBeforeLoad = true;
        return;
    }
    m_saveTimer.start();
    for (const BayCell &c : m_bays->cells()) {
        if (c.cellId == 0 && !c.label.isEmpty()) {
            resolve();
            break;
        }
    }
}

void BayKeeper::resolve()
{
    const QList<BayCell> asked = m_bays->cells();
    m_service->readBayCells(asked, this, [this, asked](const Reply<QList<BayCell>> &r) {
        if (!r.ok())
            return; // a read that failed leaves the bays as typed; the next change asks again
        const QList<BayCell> now = m_bays->cells();
        for (int b = 0; b < BayCount && b < r.value.size(); ++b) {
            // Only a bay nobody has changed since the question.
            if (now.at(b) == asked.at(b))
                m_bays->setCell(b + 1, r.value.at(b));
        }
    });
}

void BayKeeper::save()
{
    m_saveTimer.stop();
    m_unsaved = false;
    // The server away: kept when it answers again, without a warning at every letter typed.
    m_service->keepBays(m_channel, m_bays->cells(), this, [this](const Reply<Nothing> &r) {
        if (r.stale)
            m_unsaved = true;
        else if (!r.ok())
            emit failed(r.error);
    });
}

} // namespace library
