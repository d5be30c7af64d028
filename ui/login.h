#pragma once

#include <QDialog>

namespace Ui {
class login;
}

// Asks for the web service user name and password and hands them on unchanged.
class login : public QDialog
{
    Q_OBJECT
public:
    // `name` names the service endpoint ("host:port") in the heading.
    login(QWidget *parent, QString name);
    ~login() override;

    // Fills in the user name of an earlier try; the password, still empty, has the focus.
    void keepUser(const QString &user);

signals:
    void loginnext(QString User, QString Pass);

public slots:
    void nextbtn();
    void cancelbtn();

private:
    Ui::login *ui;
};
