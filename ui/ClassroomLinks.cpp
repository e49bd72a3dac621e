#include "ui/ClassroomLinks.h"

#include "base/ConsoleLine.h"
#include "base/GbkText.h"
#include "catalogue/HomeUrl.h"
#include "channel/LinkReceiver.h"
#include "ui/LessonGate.h"

#include <QMetaObject>
#include <QUrl>

#include <algorithm>
#include <chrono>

#include <set>

namespace kestrel {

namespace {

constexpr int kFirstTick = 100;
constexpr int kTick = 1000;
constexpr std::size_t kRememberedPauses = 64;

QString RecordText(std::string_view gbk)
{
    return QString::fromStdString(GbkToUtf8(gbk));
}

const char* ModeName(ClassroomMode mode)
{
    switch (mode) {
    case ClassroomMode::LessonOnly:
        return "lesson only";
    case ClassroomMode::Paused:
        return "paused";
    case ClassroomMode::Open:
        break;
    }
    return "open";
}

} // namespace

CClassroomLinks::CClassroomLinks(CLinkReceiver& receiver, QObject* parent)
    : QObject(parent)
    , m_receiver(receiver)
    , m_pictures([this](const std::string& url) { OnPictureEnded(url); })
{
    m_mergeTimer.setSingleShot(true);
    connect(&m_mergeTimer, &QTimer::timeout, this, &CClassroomLinks::MergeDue);
    m_stateExpiry.setSingleShot(true);
    connect(&m_stateExpiry, &QTimer::timeout, this, &CClassroomLinks::OnStateExpired);
    m_pauseEnd.setSingleShot(true);
    connect(&m_pauseEnd, &QTimer::timeout, this, [this] { SetMode(m_modeBeforePause); });
}

void CClassroomLinks::Start()
{
    m_started = true;
    m_mergeTimer.start(kFirstTick);
}

void CClassroomLinks::MergeReceivedLinks()
{
    const CatalogueEffects effects = m_catalogue.Merge(m_receiver.Store(), m_navigated);
    // Before a new link opens by itself: its host is the lesson's.
    UpdateLessonHosts();
    ApplyCatalogueEffects(effects);
    m_receiver.ReportDrops();
    ArmNextPassWhenSettled();
}

void CClassroomLinks::ApplyState(const ClassroomState& state)
{
    ApplyCatalogueEffects(m_catalogue.FollowList(state));
    m_stateExpiry.start(std::chrono::seconds(std::max<std::uint32_t>(state.validForSeconds, 1)));
    const std::string_view extraHosts = FieldText(state.extraHosts);
    // States repeat every round: a skipped host is reported once.
    if (extraHosts != m_extraHostsText) {
        m_extraHostsText.assign(extraHosts);
        m_extraHosts = ReadExtraHosts(extraHosts);
    }
    const bool pauses = TakePause(state);
    SetMode(pauses || state.mode != ClassroomMode::Paused ? state.mode : m_mode);
    if (pauses)
        emit PauseCountdownSet(static_cast<int>(state.pauseCountdownSeconds));
    UpdateLessonHosts();
    emit StateApplied(state);
}

bool CClassroomLinks::TakePause(const ClassroomState& state)
{
    // A pause that ended here never covers the screen again.
    if (state.mode != ClassroomMode::Paused || m_endedPauses.count(state.pauseId) != 0)
        return false;
    if (m_mode == ClassroomMode::Paused && m_pauseId != state.pauseId)
        EndPause();
    m_pauseId = state.pauseId;
    m_pauseMessage = RecordText(FieldText(state.pauseMessage));
    if (state.pauseCountdownSeconds > 0)
        m_pauseEnd.start(std::chrono::seconds(state.pauseCountdownSeconds));
    else
        m_pauseEnd.stop();
    return true;
}

void CClassroomLinks::TakeAcceptedState()
{
    ClassroomState state;
    if (m_receiver.TakeState(state))
        ApplyState(state);
}

void CClassroomLinks::SetMode(ClassroomMode mode)
{
    if (mode == m_mode)
        return;
    if (m_mode == ClassroomMode::Paused)
        EndPause();
    if (mode == ClassroomMode::Paused)
        m_modeBeforePause = m_mode;
    m_mode = mode;
    PrintLine(std::string("Classroom mode: ") + ModeName(mode));
    emit ModeChanged(mode);
}

void CClassroomLinks::EndPause()
{
    m_pauseEnd.stop();
    m_endedPauses.insert(m_pauseId);
    // Pause numbers only grow: the oldest are never heard again.
    if (m_endedPauses.size() > kRememberedPauses)
        m_endedPauses.erase(m_endedPauses.begin());
}

void CClassroomLinks::OnStateExpired()
{
    PrintLine("No classroom state within its valid-for time: the mode is open, the list lapsed");
    m_catalogue.DropList();
    m_extraHostsText.clear();
    m_extraHosts.clear();
    SetMode(ClassroomMode::Open);
    UpdateLessonHosts();
    emit StateLapsed();
}

void CClassroomLinks::UpdateLessonHosts()
{
    CAllowedHosts hosts;
    const auto addHostOf = [&hosts](std::string_view url) {
        hosts.Add(HostOf(QUrl(RecordText(url))));
    };
    addHostOf(HomeUrl());
    for (int k = 1; k <= m_catalogue.LinkCount(); ++k)
        addHostOf(FieldText(m_catalogue.Link(k).url));
    for (const std::string& host : m_extraHosts)
        hosts.Add(host);
    if (hosts == m_lessonHosts)
        return;
    m_lessonHosts = hosts;
    emit LessonHostsChanged();
}

QString CClassroomLinks::LinkUrl(int k) const
{
    return RecordText(FieldText(m_catalogue.Link(k).url));
}

void CClassroomLinks::ApplyCatalogueEffects(const CatalogueEffects& effects)
{
    std::vector<std::string> pictureTests;
    for (const CatalogueEffect& effect : effects) {
        switch (effect.kind) {
        case CatalogueEffect::Kind::HomeUrlSet:
            if (effect.homeWasEmpty)
                emit HomeToOpen();
            break;
        case CatalogueEffect::Kind::LinkAdded:
            pictureTests.emplace_back(FieldText(m_catalogue.Link(effect.link).hotPicture));
            break;
        case CatalogueEffect::Kind::OpenFirstLink:
            m_navigated = true;
            emit LinkToOpen(LinkUrl(1));
            break;
        case CatalogueEffect::Kind::LinkChanged:
        case CatalogueEffect::Kind::PictureVerdict:
        case CatalogueEffect::Kind::LinkRemoved:
        case CatalogueEffect::Kind::LinksReordered:
            break;
        }
    }
    if (ChangesLinkButtons(effects))
        RebuildLinkButtons();
    // A test whose answer is known still ends as every other does: later,
    // from the window's own queue.
    for (const std::string& url : pictureTests) {
        if (m_pictures.Request(url))
            QMetaObject::invokeMethod(this, [this, url] { OnPictureEnded(url); }, Qt::QueuedConnection);
    }
}

void CClassroomLinks::RebuildLinkButtons()
{
    std::set<std::string> inUse;
    QList<LinkButtonFace> buttons;
    for (int k = 1; k <= m_catalogue.LinkCount(); ++k) {
        const LinkRecord& link = m_catalogue.Link(k);
        // A link whose picture test runs has no pictures to fetch yet: a
        // failed test takes them away.
        if (!m_catalogue.AwaitingPictureTest(k)) {
            for (const std::string_view url : {FieldText(link.hotPicture), FieldText(link.coolPicture)}) {
                m_pictures.Request(std::string(url));
                inUse.emplace(url);
            }
        }
        buttons.append({RecordText(FieldText(link.name)), RecordText(FieldText(link.caption)), IconOf(k)});
    }
    emit ButtonsChanged(buttons);
    m_pictures.KeepOnly(inUse);
}

void CClassroomLinks::OnPictureEnded(const std::string& url)
{
    ApplyCatalogueEffects(m_catalogue.SettlePictureTest(url, m_pictures.Usable(url)));
    QList<QIcon> icons;
    for (int k = 1; k <= m_catalogue.LinkCount(); ++k)
        icons.append(IconOf(k));
    emit PicturesReady(icons);
    ArmNextPassWhenSettled();
}

QIcon CClassroomLinks::IconOf(int k) const
{
    const LinkRecord& link = m_catalogue.Link(k);
    if (m_catalogue.AwaitingPictureTest(k))
        return StandInIcon();
    return LinkIcon(m_pictures, std::string(FieldText(link.hotPicture)),
                    std::string(FieldText(link.coolPicture)));
}

void CClassroomLinks::ArmNextPassWhenSettled()
{
    if (m_started && !m_mergeTimer.isActive() && !m_catalogue.AwaitingPictureTests())
        m_mergeTimer.start(kTick);
}

} // namespace kestrel
