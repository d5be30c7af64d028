#include "login.h"

#include "ui_login.h"

login::login(QWidget *parent, QString name)
    : QDialog(parent)
    , ui(new Ui::login)
{
    ui->setupUi(this);
    ui->label_3->setText(QStringLiteral("Enter login details for: ") + name);
    connect(ui->btnLoginNext, &QPushButton::clicked, this, &login::nextbtn);
    connect(ui->btnLoginCancel, &QPushButton::clicked, this, &login::cancelbtn);
}

login::~login()
{
    delete ui;
}

void login::keepUser(const QString &user)
{
    ui->tbxUser->setText(user);
    ui->tbxPass->setFocus();
}

void login::nextbtn()
{
    emit loginnext(ui->tbxUser->text(), ui->tbxPass->text());
    close();
}

void login::cancelbtn()
{
    close();
}
