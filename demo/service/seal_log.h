#pragma once

#include <QJsonObject>
#include <QString>

#include <mutex>

namespace demo {

// Appends one JSON object per line to a file; each line is flushed before
// append() reports success, so a seal that was answered is never lost.
class SealLog
{
public:
    explicit SealLog(QString path);

    bool append(const QJsonObject &record);
    const QString &path() const { return m_path; }

private:
    QString m_path;
    std::mutex m_mutex;
};

} // namespace demo
