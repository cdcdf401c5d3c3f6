#include "store/PredicateSql.h"

#include "store/Schema.h"
#include "store/TextFolding.h"
#include "store/TrigramPositions.h"
#include "store/Utf8Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

#include <algorithm>

namespace {

// Longer IN lists go through one JSON parameter instead of one parameter per value.
constexpr int maxInlineInValues = 200;
// The trigram index answers searches of at least three characters.
constexpr int minimumIndexedLength = 3;

StoreError invalid(const QString &detail)
{
    return StoreError{StoreError::Code::InvalidRequest, 0, detail};
}

qsizetype codePointCount(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text[i].isLowSurrogate())
            ++count;
    }
    return count;
}

// A search text folded as SQL receives it, in UTF-8, where half of a surrogate pair is "?":
// its length and trigrams are then those of the text memory compares.
QString foldedSearch(const QString &text)
{
    return foldText(textFromUtf8(text.toUtf8()), TextComparison::CaseDiacriticInsensitive);
}

// The trigram tokenizer reads U+FFFE and U+FFFF as U+FFFD: the index finds any of the three
// where a search holds one.
bool readsAlikeInIndex(const QString &folded)
{
    return std::any_of(folded.cbegin(), folded.cend(), [](QChar c) { return c.unicode() >= 0xFFFD; });
}

bool everySearchedAttribute(const QStringList &attributes)
{
    for (const QString &attribute : schema::searchedAttributes()) {
        if (!attributes.contains(attribute))
            return false;
    }
    return true;
}

// The searched attributes' columns of the trigram index, as kn_trigrams_at takes them.
unsigned columnMask(const QStringList &attributes)
{
    unsigned mask = 0;
    const QStringList &columns = schema::searchedAttributes();
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (attributes.contains(columns[i]))
            mask |= 1u << i;
    }
    return mask;
}

// A CONTAINS[cd] of one text in searched attributes: one such comparison, or several
// joined by OR ("a CONTAINS[cd] x OR b CONTAINS[cd] x ..."), one lookup in the index.
struct Search {
    QStringList attributes;
    QString text;
};

std::optional<Search> searchOf(const EntityDescription &entity, const Predicate &predicate)
{
    if (entity.name != QLatin1String("ClipItem"))
        return std::nullopt;
    auto isSearchComparison = [](const Predicate &p) {
        return p.op() == Predicate::Operator::Contains && p.comparison() == TextComparison::CaseDiacriticInsensitive
            && schema::searchedAttributes().contains(p.attribute())
            && p.values().value(0).typeId() == QMetaType::QString;
    };
    const QList<Predicate> parts = predicate.op() == Predicate::Operator::Or ? predicate.children()
                                                                             : QList<Predicate>{predicate};
    if (parts.isEmpty())
        return std::nullopt;
    Search search;
    search.text = parts.first().values().value(0).toString();
    for (const Predicate &part : parts) {
        if (!isSearchComparison(part) || part.values().value(0).toString() != search.text)
            return std::nullopt;
        if (!search.attributes.contains(part.attribute()))
            search.attributes.append(part.attribute());
    }
    return search;
}

class Compiler
{
public:
    Compiler(const EntityDescription &entity, PredicateScope scope)
        : m_entity(entity)
        , m_scope(scope)
    {
    }

    StoreResult<QString> compile(const Predicate &predicate);
    QVariantList takeBindings() { return std::move(m_bindings); }
    // The keys of every row of the table that the search matches, as a query.
    QString searchKeys(const QStringList &attributes, const QString &folded);

private:
    StoreResult<QString> compileGroup(const Predicate &predicate);
    StoreResult<QString> compileComparison(const Predicate &predicate);
    QString compileSearch(const Search &search);
    StoreResult<const AttributeDescription *> checkedAttribute(const Predicate &predicate);
    StoreResult<QVariant> boundValue(const AttributeDescription &attribute, const QVariant &value);
    QString anyContains(const QStringList &attributes, const QString &folded);
    static bool isIndexed(const QStringList &attributes, qsizetype length);
    static QString rowsToRead(qsizetype length);
    QString bind(const QVariant &value)
    {
        m_bindings.append(value);
        return QStringLiteral("?");
    }

    const EntityDescription &m_entity;
    PredicateScope m_scope;
    QVariantList m_bindings;
};

StoreResult<QString> Compiler::compile(const Predicate &predicate)
{
    if (predicate.op() == Predicate::Operator::And || predicate.op() == Predicate::Operator::Or)
        return compileGroup(predicate);
    return compileComparison(predicate);
}

StoreResult<QString> Compiler::compileGroup(const Predicate &predicate)
{
    const bool isAnd = predicate.op() == Predicate::Operator::And;
    if (predicate.children().isEmpty())
        return isAnd ? QStringLiteral("1") : QStringLiteral("0");

    if (!isAnd) {
        if (auto search = searchOf(m_entity, predicate))
            return compileSearch(*search);
    }

    QStringList parts;
    for (const Predicate &child : predicate.children()) {
        auto part = compile(child);
        if (!part)
            return part;
        parts.append(*part);
    }
    return QString(QLatin1Char('(') + parts.join(isAnd ? QStringLiteral(" AND ") : QStringLiteral(" OR "))
                   + QLatin1Char(')'));
}

QString Compiler::compileSearch(const Search &search)
{
    const QString folded = foldedSearch(search.text);
    if (folded.isEmpty())
        return QStringLiteral("0");
    const qsizetype length = codePointCount(folded);
    if (m_scope == PredicateScope::WholeTable && isIndexed(search.attributes, length)) {
        // Three characters or fewer match a good share of all items: walking the list's own
        // order and testing each key against the matches ("+" keeps SQLite from looking each
        // match up and sorting them) took half the time at 100,000 items. Longer texts match few.
        const QString key = length <= minimumIndexedLength ? QStringLiteral("+t.pk") : QStringLiteral("t.pk");
        return QStringLiteral("%1 IN (%2)").arg(key, searchKeys(search.attributes, folded));
    }
    // A search of some of the attributes: one character is answered from each row's distinct
    // characters, a short row per item; two characters read every folded text. Testing each
    // row as the outer scan reaches it spares collecting the matches into a temporary set.
    const QString table = m_scope == PredicateScope::WholeTable ? rowsToRead(length) : schema::foldedTable;
    return QStringLiteral("EXISTS (SELECT 1 FROM %1 s WHERE s.pk = t.pk AND (%2))")
        .arg(table, anyContains(search.attributes, folded));
}

QString Compiler::anyContains(const QStringList &attributes, const QString &folded)
{
    QStringList tests;
    for (const QString &attribute : attributes)
        tests.append(QStringLiteral("instr(s.%1, %2) > 0").arg(attribute, bind(folded)));
    return tests.join(QStringLiteral(" OR "));
}

bool Compiler::isIndexed(const QStringList &attributes, qsizetype length)
{
    // Characters and pairs are indexed for all searched attributes together.
    return length >= minimumIndexedLength || everySearchedAttribute(attributes);
}

QString Compiler::searchKeys(const QStringList &attributes, const QString &folded)
{
    const qsizetype length = codePointCount(folded);
    if (isIndexed(attributes, length)) {
        const bool trigrams = length >= minimumIndexedLength;
        // Bound in the order the SQL reads them.
        QString indexed;
        if (!trigrams) {
            indexed = QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH %2 UNION ALL ")
                          .arg(schema::gramsTable, bind(QString(QLatin1Char('"') + searchGram(folded) + QLatin1Char('"'))));
        } else {
            // The trigram tokenizer ends a text at its first U+0000 and a query cannot hold one:
            // indexed texts with U+0000 (the pair index lists them) are read directly.
            if (!folded.contains(QChar(0))) {
                const TrigramCover cover = trigramCover(folded);
                const QString match = bind(cover.query);
                // One trigram in any column needs no positions. (A column filter in the
                // query would make FTS5 read every position list.)
                QString checks;
                if (cover.trigrams > 1 || !everySearchedAttribute(attributes)) {
                    checks = QStringLiteral(" AND kn_trigrams_at(%1, %2, %3)")
                                    .arg(schema::searchTable)
                                    .arg(columnMask(attributes))
                                    .arg(cover.length);
                }
                // Those rows' folded texts tell which of the three each holds.
                if (readsAlikeInIndex(folded)) {
                    checks += QStringLiteral(" AND EXISTS (SELECT 1 FROM %1 s WHERE s.pk = %2.rowid AND (%3))")
                                     .arg(schema::foldedTable, schema::searchTable, anyContains(attributes, folded));
                }
                indexed = QStringLiteral("SELECT rowid FROM %1 WHERE %1 MATCH %2%3 UNION ALL ")
                              .arg(schema::searchTable, match, checks);
            }
            indexed += QStringLiteral("SELECT s.pk FROM %1 g CROSS JOIN %2 s ON s.pk = g.rowid "
                                      "WHERE %1 MATCH '\"0\"' AND (%3) UNION ALL ")
                           .arg(schema::gramsTable, schema::foldedTable, anyContains(attributes, folded));
        }
        const QString waitingTest = anyContains(attributes, folded);
        // Rows no indexer has taken in yet are read directly (CROSS JOIN: from the waiting
        // list, never by scanning every folded row); the list is long after an import.
        return QStringLiteral("%1SELECT s.pk FROM %2 p CROSS JOIN %3 s ON s.pk = p.pk WHERE %4")
            .arg(indexed, schema::pendingIndexTable, rowsToRead(length), waitingTest);
    }
    return QStringLiteral("SELECT s.pk FROM %1 s WHERE %2").arg(rowsToRead(length), anyContains(attributes, folded));
}

// Where a search that reads rows reads them: one character needs only each row's short
// list of distinct characters.
QString Compiler::rowsToRead(qsizetype length)
{
    return length == 1 ? schema::charactersTable : schema::foldedTable;
}

StoreResult<const AttributeDescription *> Compiler::checkedAttribute(const Predicate &predicate)
{
    const AttributeDescription *attribute = m_entity.attribute(predicate.attribute());
    if (!attribute)
        return invalid(QStringLiteral("%1 has no attribute %2").arg(m_entity.name, predicate.attribute()));
    if (attribute->isBinary())
        return invalid(QStringLiteral("binary attribute %1 cannot be used in a predicate").arg(attribute->name));
    const bool textOperator = predicate.op() == Predicate::Operator::BeginsWith
        || predicate.op() == Predicate::Operator::Contains;
    if ((textOperator || predicate.comparison() != TextComparison::Exact)
        && attribute->type != AttributeType::String)
        return invalid(QStringLiteral("%1 is not a text attribute").arg(attribute->name));
    return attribute;
}

StoreResult<QVariant> Compiler::boundValue(const AttributeDescription &attribute, const QVariant &value)
{
    const int type = value.typeId();
    switch (attribute.type) {
    case AttributeType::String:
        if (type == QMetaType::QString)
            return value;
        break;
    case AttributeType::Integer16:
    case AttributeType::Integer64:
        if (type == QMetaType::LongLong)
            return value;
        break;
    case AttributeType::Boolean:
        if (type == QMetaType::Bool)
            return QVariant(qint64(value.toBool() ? 1 : 0));
        break;
    case AttributeType::UUID:
        if (type == QMetaType::QUuid)
            return QVariant(value.value<QUuid>().toRfc4122());
        break;
    case AttributeType::Date:
    case AttributeType::Binary:
        break;
    }
    return invalid(QStringLiteral("a value of type %1 cannot be compared with %2")
                       .arg(QString::fromLatin1(value.typeName()), attribute.name));
}

StoreResult<QString> Compiler::compileComparison(const Predicate &predicate)
{
    auto checked = checkedAttribute(predicate);
    if (!checked)
        return checked.error();
    const AttributeDescription &attribute = **checked;
    const QString column = QStringLiteral("t.") + attribute.name;
    const int mode = int(predicate.comparison());

    switch (predicate.op()) {
    case Predicate::Operator::IsNull:
        return QStringLiteral("(%1 IS NULL)").arg(column);
    case Predicate::Operator::Equal: {
        auto value = boundValue(attribute, predicate.values().value(0));
        if (!value)
            return value.error();
        if (attribute.type == AttributeType::Boolean && value->toLongLong() != 0) {
            // Any number but 0 reads as true, also one written by plain SQL; a text (after every
            // number, from '' on) is no Boolean. The index finds those keys; a test of the
            // column itself would walk every item in the list's order.
            return QStringLiteral("(t.%1 IN (SELECT %1 FROM %2 WHERE %3 > 0 AND %3 < '' OR %3 < 0))")
                .arg(schema::primaryKey, schema::tableName(m_entity), attribute.name);
        }
        if (predicate.comparison() == TextComparison::Exact) {
            // Stored bytes that are not UTF-8 read as U+FFFD: only a text holding one can
            // equal them, and only once decoded (kn_fold in exact mode decodes).
            if (attribute.type == AttributeType::String && value->toString().contains(QChar::ReplacementCharacter))
                return QStringLiteral("(kn_fold(%1, %2) = %3)").arg(column).arg(mode).arg(bind(*value));
            return QStringLiteral("(%1 = %2)").arg(column, bind(*value));
        }
        const QString folded = foldText(value->toString(), predicate.comparison());
        return QStringLiteral("(kn_fold(%1, %2) = %3)").arg(column).arg(mode).arg(bind(folded));
    }
    case Predicate::Operator::In: {
        QVariantList values;
        for (const QVariant &raw : predicate.values()) {
            auto value = boundValue(attribute, raw);
            if (!value)
                return value.error();
            values.append(*value);
        }
        if (values.isEmpty())
            return QStringLiteral("0");
        // As with equality: stored bytes that are not UTF-8 equal U+FFFD only once decoded.
        const bool decodes = attribute.type == AttributeType::String
            && std::any_of(values.cbegin(), values.cend(), [](const QVariant &value) {
                   return value.toString().contains(QChar::ReplacementCharacter);
               });
        const QString tested = decodes ? QStringLiteral("kn_fold(%1, %2)").arg(column).arg(mode) : column;
        if (values.size() > maxInlineInValues) {
            const QByteArray json = QJsonDocument(QJsonArray::fromVariantList(values)).toJson(QJsonDocument::Compact);
            return QStringLiteral("(%1 IN (SELECT value FROM json_each(%2)))")
                .arg(tested, bind(QString::fromUtf8(json)));
        }
        QStringList marks;
        for (const QVariant &value : values)
            marks.append(bind(value));
        return QStringLiteral("(%1 IN (%2))").arg(tested, marks.join(QStringLiteral(", ")));
    }
    case Predicate::Operator::BeginsWith: {
        auto value = boundValue(attribute, predicate.values().value(0));
        if (!value)
            return value.error();
        return QStringLiteral("kn_begins_with(%1, %2, %3)").arg(column, bind(*value)).arg(mode);
    }
    case Predicate::Operator::Contains: {
        auto value = boundValue(attribute, predicate.values().value(0));
        if (!value)
            return value.error();
        if (auto search = searchOf(m_entity, predicate))
            return compileSearch(*search);
        return QStringLiteral("kn_contains(%1, %2, %3)").arg(column, bind(*value)).arg(mode);
    }
    case Predicate::Operator::And:
    case Predicate::Operator::Or:
        break;
    }
    return invalid(QStringLiteral("unsupported predicate"));
}

} // namespace

StoreResult<CompiledPredicate> compilePredicate(const EntityDescription &entity, const Predicate &predicate,
                                                PredicateScope scope)
{
    Compiler compiler(entity, scope);
    auto sql = compiler.compile(predicate);
    if (!sql)
        return sql.error();
    return CompiledPredicate{*sql, compiler.takeBindings()};
}

std::optional<SplitSearch> splitSearch(const EntityDescription &entity, const Predicate &predicate)
{
    std::optional<Search> search = searchOf(entity, predicate);
    std::optional<Predicate> rest;
    if (!search && predicate.op() == Predicate::Operator::And) {
        QList<Predicate> others;
        for (const Predicate &child : predicate.children()) {
            if (!search && (search = searchOf(entity, child)))
                continue;
            others.append(child);
        }
        if (others.size() == 1)
            rest = others.first();
        else if (!others.isEmpty())
            rest = Predicate::allOf(others);
    }
    if (!search)
        return std::nullopt;
    const QString folded = foldedSearch(search->text);
    Compiler compiler(entity, PredicateScope::WholeTable);
    const QString keys = folded.isEmpty() ? QStringLiteral("SELECT NULL WHERE 0")
                                          : compiler.searchKeys(search->attributes, folded);
    return SplitSearch{rest, CompiledPredicate{keys, compiler.takeBindings()}};
}
