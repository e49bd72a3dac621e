#pragma once

#include "base/ClassroomState.h"
#include "catalogue/AllowedHosts.h"
#include "catalogue/LinkCatalogue.h"
#include "ui/LinkPictures.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <set>
#include <string>

namespace kestrel {

class CLinkReceiver;

// What one link button shows.
struct LinkButtonFace {
    QString name;
    QString caption;
    QIcon icon;
};

// The classroom's links behind the window: once a second it merges what the
// receiver heard into the catalogue, tests each new link's picture and keeps
// every link's pictures. It also follows the classroom's state: its list,
// its mode and the hosts a lesson allows, until the state expires. It never calls the window: it says what to show
// through its signals, each carrying what is shown; the window only calls
// down into it (a pass, the user's navigation, a link's address).
class CClassroomLinks : public QObject {
    Q_OBJECT

public:
    explicit CClassroomLinks(CLinkReceiver& receiver, QObject* parent = nullptr);

    // Arms the first merge pass, a tenth of a second from now.
    void Start();
    // One pass bringing the received records into the catalogue. The next
    // pass is due a second after this one ends, which is when its picture
    // tests have their verdicts.
    void MergeReceivedLinks();
    // The user went back, forward or refreshed: from then on new links no
    // longer open by themselves.
    void UserNavigated() { m_navigated = true; }
    bool Navigated() const { return m_navigated; }

    int LinkCount() const { return m_catalogue.LinkCount(); }
    // Link k's address, 1 <= k <= LinkCount().
    QString LinkUrl(int k) const;
    const CLinkCatalogue& Catalogue() const { return m_catalogue; }

    // An accepted classroom state: its mode and its list's removals apply
    // at once, its order and new links at the next pass. Without another
    // state for its "valid for" seconds, the mode returns to open and the
    // list lapses. A pause's countdown reaching zero ends it, back to the
    // mode before it; a pause that ended never covers the screen again.
    void ApplyState(const ClassroomState& state);
    // Applies the state the receiver accepted since the last call, if any.
    void TakeAcceptedState();
    ClassroomMode Mode() const { return m_mode; }
    // The hosts of the home page, the links and the state's extra hosts.
    const CAllowedHosts& LessonHosts() const { return m_lessonHosts; }
    QString PauseMessage() const { return m_pauseMessage; }

signals:
    // The merge timer ran out: the window's timer 2 runs the next pass.
    void MergeDue();
    // The home address became known: stop and refresh become usable, and
    // the home page opens (nothing opens while the address is empty).
    void HomeToOpen();
    // Link 1 opens by itself, at `url`, as a click on its button would.
    void LinkToOpen(const QString& url);
    // Every link's button, in link order; links beyond the buttons shown are new.
    void ButtonsChanged(const QList<LinkButtonFace>& buttons);
    // Every link's icon, in link order, once another picture arrived.
    void PicturesReady(const QList<QIcon>& icons);
    void ModeChanged(ClassroomMode mode);
    void LessonHostsChanged();
    // A state while paused set the countdown, in seconds; 0 for none.
    void PauseCountdownSet(int seconds);
    // An accepted state was applied; it holds until StateLapsed or the next.
    void StateApplied(const ClassroomState& state);
    // No state came within the last one's "valid for".
    void StateLapsed();

private:
    void ApplyCatalogueEffects(const CatalogueEffects& effects);
    // Asks for the pictures of every link whose picture test is over, and
    // shows the buttons.
    void RebuildLinkButtons();
    // A picture fetch ended: a picture test gets its verdict, and the
    // buttons showing that picture get it.
    void OnPictureEnded(const std::string& url);
    QIcon IconOf(int k) const;
    // The one place the merge timer is armed: when a pass is over, that is
    // once no picture test waits.
    void ArmNextPassWhenSettled();
    void SetMode(ClassroomMode mode);
    // Takes the state's pause, unless it is none or has ended here.
    bool TakePause(const ClassroomState& state);
    void EndPause();
    void OnStateExpired();
    void UpdateLessonHosts();

    CLinkReceiver& m_receiver;
    CLinkCatalogue m_catalogue;
    CLinkPictures m_pictures;
    QTimer m_mergeTimer;
    bool m_started = false;
    bool m_navigated = false;

    ClassroomMode m_mode = ClassroomMode::Open;
    // The mode a pause returns to when its countdown ends.
    ClassroomMode m_modeBeforePause = ClassroomMode::Open;
    QTimer m_stateExpiry;
    QTimer m_pauseEnd;
    std::uint32_t m_pauseId = 0;
    // Pauses that ended on this screen never cover it again.
    std::set<std::uint32_t> m_endedPauses;
    QString m_pauseMessage;
    std::string m_extraHostsText;
    std::vector<std::string> m_extraHosts;
    CAllowedHosts m_lessonHosts;
};

} // namespace kestrel
