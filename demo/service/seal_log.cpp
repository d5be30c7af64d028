#include "seal_log.h"

#include <QFile>
#include <QJsonDocument>

namespace demo {

SealLog::SealLog(QString path)
    : m_path(std::move(path))
{
}

bool SealLog::append(const QJsonObject &record)
{
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    std::lock_guard<std::mutex> lock(m_mutex);
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (file.write(line) != line.size())
        return false;
    return file.flush();
}

} // namespace demo
