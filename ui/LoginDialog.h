#pragma once

#include <QDialog>

class QAuthenticator;
class QLineEdit;

namespace kestrel {

// The small Chinese login box for a site or a proxy that asks for a user
// name and password. What is typed goes to the one request that asked and
// is kept nowhere else.
class CLoginDialog : public QDialog {
    Q_OBJECT

public:
    // `where`: the site or proxy, as the user should recognise it.
    CLoginDialog(const QString& where, const QString& realm, QWidget* parent);

    // Asks; fills `authenticator` when the user logs in, leaves it empty
    // (the request then fails) when the user cancels.
    static void Ask(const QString& where, QAuthenticator* authenticator, QWidget* parent);

private:
    QLineEdit* m_user;
    QLineEdit* m_password;
};

} // namespace kestrel
