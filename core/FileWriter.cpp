#include "core/FileWriter.h"
#include "core/SafeWrite.h"

#include <QPointer>

FileWriter::FileWriter(QObject *parent)
    : QObject(parent)
{ }

FileWriter::~FileWriter()
{
    // While this is still whole: the last answers are posted to it.
    m_thread.waitForIdle();
}

void FileWriter::write(const QString &path, const QByteArray &bytes, QObject *context, Done done)
{
    run([path, bytes] { safewrite::WriteFile(path, bytes); }, context, std::move(done));
}

void FileWriter::run(std::function<void()> job, QObject *context, Done done)
{
    QPointer<QObject> guard(context);
    const bool hasContext = context != nullptr;
    m_thread.post([this, job = std::move(job), guard, hasContext, done = std::move(done)] {
        QString error;
        try {
            job();
        } catch (const std::exception &e) {
            error = QString::fromUtf8(e.what());
            if (error.isEmpty())
                error = QStringLiteral("書き込めません");
        }
        // Through this object, which outlives its thread: the answer is never
        // delivered to a receiver that is gone.
        m_mailbox.post([guard, hasContext, done, error] {
            if (done && (!hasContext || guard))
                done(error);
        });
    });
}
