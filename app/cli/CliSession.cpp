#include "app/cli/CliSession.h"

#include "app/cli/ItemJson.h"
#include "capture/ClipboardCapture.h"
#include "shelf/LabelOperations.h"
#include "store/PersistenceController.h"
#include "store/StoreContext.h"
#include "store/StoreFailureAlert.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// The store failure alert of a terminal: its texts on standard error.
class StreamStoreFailureAlert : public StoreFailureAlert
{
public:
    explicit StreamStoreFailureAlert(QTextStream &stream) : m_stream(stream) { }

    void show(const QString &messageText, const QString &informativeText, const QString &) override
    {
        m_stream << messageText << '\n' << informativeText << '\n';
        m_stream.flush();
    }

private:
    QTextStream &m_stream;
};

} // namespace

CliSession::CliSession()
    : m_out(stdout)
    , m_err(stderr)
{
    m_defaults.registerApplicationDefaults();
}

CliSession::~CliSession()
{
    if (m_capture)
        settle();
}

bool CliSession::openStore()
{
    if (m_persistence)
        return m_persistence->isLoaded();
    m_storeFailureAlert = std::make_unique<StreamStoreFailureAlert>(m_err);
    PersistenceController::Options options;
    options.alert = m_storeFailureAlert.get();
    // The command fails with exit code 1 instead.
    options.quit = [] { };
    m_persistence = std::make_unique<PersistenceController>(false, std::nullopt, options);
    if (!m_persistence->isLoaded()) {
        // The alert is queued for an event loop that commands do not run: show it now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        return false;
    }
    // Tells the command line's saves from the application's in the store's history.
    m_persistence->container().viewContext()->setTransactionAuthor(QStringLiteral("cli"));
    return true;
}

StoreContext &CliSession::view() const
{
    return *m_persistence->container().viewContext();
}

StoreContainer &CliSession::container() const
{
    return m_persistence->container();
}

ClipboardCapture &CliSession::capture()
{
    if (!m_capture)
        m_capture = std::make_unique<ClipboardCapture>(container(), m_defaults);
    return *m_capture;
}

void CliSession::settle()
{
    if (m_capture)
        m_capture->context().performAndWait([] {});
}

int CliSession::usageError(const QString &message)
{
    m_err << "kestrelnote: " << message << "\nTry 'kestrelnote help'.\n";
    m_err.flush();
    return ExitCode::usage;
}

namespace {

// Matches a full id or an id prefix of at least four characters.
bool idMatches(const std::optional<QUuid> &id, const QString &key)
{
    if (!id || key.size() < 4)
        return false;
    const QString text = uuidString(*id);
    return text.compare(key, Qt::CaseInsensitive) == 0 || text.startsWith(key, Qt::CaseInsensitive);
}

} // namespace

ClipItemPtr CliSession::findItem(const QString &key)
{
    const QUuid exact = QUuid::fromString(key);
    FetchRequest request = FetchRequest::of<ClipItem>();
    if (!exact.isNull())
        request.setPredicate(Predicate::equal(QStringLiteral("id"), exact));
    else
        request.setPropertiesToFetch({QStringLiteral("id")});

    QList<ClipItemPtr> matches;
    if (!exact.isNull()) {
        if (const auto found = view().fetch<ClipItem>(request))
            matches = *found;
    } else if (const auto rows = view().fetchDictionaries(request)) {
        QList<QUuid> ids;
        for (const QVariantMap &row : *rows) {
            const QUuid id = row.value(QStringLiteral("id")).toUuid();
            if (idMatches(id, key))
                ids.append(id);
        }
        for (const QUuid &id : std::as_const(ids)) {
            FetchRequest byId = FetchRequest::of<ClipItem>();
            byId.setPredicate(Predicate::equal(QStringLiteral("id"), id));
            if (const auto found = view().fetch<ClipItem>(byId))
                matches += *found;
        }
    }
    if (matches.size() == 1)
        return matches.first();
    m_err << (matches.isEmpty() ? QStringLiteral("kestrelnote: no item with id %1\n").arg(key)
                                : QStringLiteral("kestrelnote: %1 items match %2; give more of the id\n")
                                      .arg(matches.size()).arg(key));
    m_err.flush();
    return nullptr;
}

ClipLabelPtr CliSession::findLabel(const QString &key)
{
    const auto labels = view().fetch<ClipLabel>(labelListRequest());
    if (labels) {
        for (const ClipLabelPtr &label : *labels) {
            if (idMatches(label->id(), key))
                return label;
        }
        for (const ClipLabelPtr &label : *labels) {
            if (label->name() && label->name()->compare(key, Qt::CaseInsensitive) == 0)
                return label;
        }
    }
    m_err << QStringLiteral("kestrelnote: no label named or with id %1\n").arg(key);
    m_err.flush();
    return nullptr;
}
