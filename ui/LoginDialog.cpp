#include "ui/LoginDialog.h"

#include <QAuthenticator>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kestrel {

CLoginDialog::CLoginDialog(const QString& where, const QString& realm, QWidget* parent)
    : QDialog(parent)
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
{
    setObjectName(QStringLiteral("loginDialog"));
    setWindowTitle(QStringLiteral("需要登录"));
    m_user->setObjectName(QStringLiteral("loginUser"));
    m_password->setObjectName(QStringLiteral("loginPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    auto* layout = new QFormLayout(this);
    QString prompt = QStringLiteral("%1 要求输入用户名和密码。").arg(where);
    if (!realm.isEmpty())
        prompt += QStringLiteral("\n站点说明：%1").arg(realm);
    auto* label = new QLabel(prompt, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    layout->addRow(label);
    layout->addRow(QStringLiteral("用户名："), m_user);
    layout->addRow(QStringLiteral("密码："), m_password);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("登录"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addRow(buttons);
}

void CLoginDialog::Ask(const QString& where, QAuthenticator* authenticator, QWidget* parent)
{
    CLoginDialog dialog(where, authenticator->realm(), parent);
    if (dialog.exec() != QDialog::Accepted) {
        // An empty authenticator tells the engine the user gave up.
        *authenticator = QAuthenticator();
        return;
    }
    authenticator->setUser(dialog.m_user->text());
    authenticator->setPassword(dialog.m_password->text());
}

} // namespace kestrel
