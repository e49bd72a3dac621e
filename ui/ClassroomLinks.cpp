#include "ui/ClassroomLinks.h"

#include "base/GbkText.h"
#include "channel/LinkReceiver.h"

#include <QMetaObject>

#include <set>

namespace kestrel {

namespace {

constexpr int kFirstTick = 100;
constexpr int kTick = 1000;

QString RecordText(std::string_view gbk)
{
    return QString::fromStdString(GbkToUtf8(gbk));
}

} // namespace

CClassroomLinks::CClassroomLinks(CLinkReceiver& receiver, QObject* parent)
    : QObject(parent)
    , m_receiver(receiver)
    , m_pictures([this](const std::string& url) { OnPictureEnded(url); })
{
    m_mergeTimer.setSingleShot(true);
    connect(&m_mergeTimer, &QTimer::timeout, this, &CClassroomLinks::MergeDue);
}

void CClassroomLinks::Start()
{
    m_started = true;
    m_mergeTimer.start(kFirstTick);
}

void CClassroomLinks::MergeReceivedLinks()
{
    ApplyCatalogueEffects(m_catalogue.Merge(m_receiver.Store(), m_navigated));
    m_receiver.ReportDrops();
    ArmNextPassWhenSettled();
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
