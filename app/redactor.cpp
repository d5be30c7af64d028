#include "redactor.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <algorithm>

const QString Redactor::kHidden = QStringLiteral("<hidden>");

void Redactor::addSecret(const QString &secret)
{
    if (secret.size() >= 4 && !secrets_.contains(secret))
        secrets_ << secret;
}

void Redactor::addPassword(const QString &password)
{
    if (password.isEmpty())
        return;
    const QString digest = QString::fromLatin1(
            QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5).toHex());
    addSecret(digest);
    addSecret(digest.toUpper());
}

QString Redactor::apply(QString text) const
{
    // Longest first, so a secret holding another one goes as a whole.
    QStringList bySize = secrets_;
    std::sort(bySize.begin(), bySize.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &secret : qAsConst(bySize))
        text.replace(secret, kHidden);

    static const QRegularExpression patterns[] = {
            QRegularExpression(QStringLiteral(R"((password=)[^&\s]*)"),
                               QRegularExpression::CaseInsensitiveOption),
            QRegularExpression(QStringLiteral(R"((MORV-Token\s*[:=]\s*)\S+)"),
                               QRegularExpression::CaseInsensitiveOption),
            QRegularExpression(
                    QStringLiteral(R"re(("(?:comment|password|token)"\s*:\s*)"(?:[^"\\]|\\.)*")re"),
                    QRegularExpression::CaseInsensitiveOption),
    };
    for (const QRegularExpression &re : patterns)
        text.replace(re, QStringLiteral("\\1") + kHidden);
    // Digests and hex tokens in either case, the known ones among them.
    static const QRegularExpression digest(QStringLiteral(R"(\b[0-9A-Fa-f]{32}\b)"));
    text.replace(digest, kHidden);
    return text;
}
