#pragma once

#include <QString>
#include <QStringList>

// Hides secrets in text meant for other people: the texts it is told about
// (the password's digest, the session token, comments), and whatever merely
// looks like a password field, a token header, a comment member or an MD5 digest.
class Redactor
{
public:
    static const QString kHidden;

    // Texts shorter than four characters are not hidden: they would hide half the text.
    void addSecret(const QString &secret);
    // The password's digest as the login form carries it. The password itself is
    // never written anywhere, and hiding a plain word wherever it stands would
    // give it away.
    void addPassword(const QString &password);

    QString apply(QString text) const;

private:
    QStringList secrets_;
};
