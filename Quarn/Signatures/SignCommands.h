#pragma once
// The "Sign" menu: new signature or initials, the saved ones to place, the
// date, checkmark and cross stamps, and Fill Form Fields. It acts on the
// window's viewer model and lists the signature library; its items are
// disabled while the window cannot sign (no page view, or no pages), and
// follow the library as signatures are saved or deleted in any window.
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "QuarnKit/Signatures/Signature.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;

namespace quarn {

class SignatureLibrary;
class ViewerModel;

class SignCommands : public QObject {
    Q_OBJECT
public:
    // `viewer` none: no document window; every item stays, disabled.
    // `library` none: the application's shared library.
    SignCommands(ViewerModel* viewer, QObject* parent = nullptr, SignatureLibrary* library = nullptr);
    ~SignCommands() override;

    QMenu* menu() const { return menu_; }
    QMenu* placeMenu() const { return placeMenu_; }
    // The item with this title ("Insert Date"), or none.
    QAction* action(const QString& title) const;

    // The window can sign: a page view with a document of at least one page.
    bool canSign() const;
    void refresh();
    // Fills the Place Signature submenu from the library.
    void rebuildPlaceMenu();

    // What the submenu shows for an entry: its typed text, else "Drawn" and its date.
    static QString itemTitle(const quarnkit::Signature& signature);

    void present(quarnkit::Signature::Kind kind);
    void place(const quarnkit::Signature& signature);
    // Chooses Select, then starts editing the document's first empty form field.
    void fillFormFields();

private:
    QAction* add(const QString& title, std::optional<quarnkit::ShortcutCommand> command,
                 std::function<void(ViewerModel&)> run);

    QPointer<ViewerModel> viewer_;
    SignatureLibrary& library_;
    QMenu* menu_;
    QMenu* placeMenu_;
    std::vector<QAction*> items_;
    QAction* fillForms_ = nullptr;
};

} // namespace quarn
