#include "store/Predicate.h"

#include "store/StorageValues.h"
#include "store/StoreObject.h"
#include "store/TextFolding.h"

#include <QDateTime>

Predicate Predicate::make(Node node)
{
    return Predicate(std::make_shared<const Node>(std::move(node)));
}

bool operator==(const Predicate &a, const Predicate &b)
{
    if (a.m_node == b.m_node)
        return true;
    return a.op() == b.op() && a.attribute() == b.attribute() && a.comparison() == b.comparison()
        && a.values() == b.values() && a.children() == b.children();
}

Predicate Predicate::equal(const QString &attribute, const QString &value, TextComparison comparison)
{
    return make({Operator::Equal, attribute, {value}, comparison, {}});
}

Predicate Predicate::equal(const QString &attribute, qint64 value)
{
    return make({Operator::Equal, attribute, {value}, TextComparison::Exact, {}});
}

Predicate Predicate::equal(const QString &attribute, bool value)
{
    return make({Operator::Equal, attribute, {value}, TextComparison::Exact, {}});
}

Predicate Predicate::equal(const QString &attribute, const QUuid &value)
{
    return make({Operator::Equal, attribute, {QVariant::fromValue(value)}, TextComparison::Exact, {}});
}

Predicate Predicate::isNull(const QString &attribute)
{
    return make({Operator::IsNull, attribute, {}, TextComparison::Exact, {}});
}

Predicate Predicate::in(const QString &attribute, const QList<qint64> &values)
{
    QVariantList list;
    list.reserve(values.size());
    for (qint64 value : values)
        list.append(value);
    return make({Operator::In, attribute, list, TextComparison::Exact, {}});
}

Predicate Predicate::in(const QString &attribute, const QStringList &values)
{
    QVariantList list;
    list.reserve(values.size());
    for (const QString &value : values)
        list.append(value);
    return make({Operator::In, attribute, list, TextComparison::Exact, {}});
}

Predicate Predicate::beginsWith(const QString &attribute, const QString &prefix, TextComparison comparison)
{
    return make({Operator::BeginsWith, attribute, {prefix}, comparison, {}});
}

Predicate Predicate::contains(const QString &attribute, const QString &text, TextComparison comparison)
{
    return make({Operator::Contains, attribute, {text}, comparison, {}});
}

Predicate Predicate::allOf(const QList<Predicate> &predicates)
{
    return make({Operator::And, {}, {}, TextComparison::Exact, predicates});
}

Predicate Predicate::anyOf(const QList<Predicate> &predicates)
{
    return make({Operator::Or, {}, {}, TextComparison::Exact, predicates});
}

namespace {

bool valuesEqual(const AttributeDescription &attribute, const QVariant &stored, const QVariant &wanted,
                 TextComparison comparison)
{
    switch (attribute.type) {
    case AttributeType::String:
        if (comparison == TextComparison::Exact)
            return stored.typeId() == QMetaType::QString && stored.toString() == wanted.toString();
        return foldedEquals(stored.toString(), wanted.toString(), comparison);
    case AttributeType::Integer16:
    case AttributeType::Integer64:
        return compareStored(stored, wanted) == 0;
    case AttributeType::Boolean:
        return stored.typeId() == QMetaType::Bool && stored.toBool() == wanted.toBool();
    case AttributeType::UUID:
        return stored.value<QUuid>() == wanted.value<QUuid>();
    case AttributeType::Date:
        return compareStored(toStorage(attribute.type, stored), toStorage(attribute.type, wanted)) == 0;
    case AttributeType::Binary:
        return stored.toByteArray() == wanted.toByteArray();
    }
    return false;
}

} // namespace

bool Predicate::evaluate(const StoreObject &object) const
{
    const Node &node = *m_node;
    switch (node.op) {
    case Operator::And:
        for (const Predicate &child : node.children) {
            if (!child.evaluate(object))
                return false;
        }
        return true;
    case Operator::Or:
        for (const Predicate &child : node.children) {
            if (child.evaluate(object))
                return true;
        }
        return false;
    default:
        break;
    }

    const int index = object.entity().indexOf(node.attribute);
    if (index < 0)
        return false;
    const AttributeDescription &attribute = object.entity().attributes[index];
    const QVariant stored = object.value(index);
    if (node.op == Operator::IsNull)
        return stored.isNull();
    if (stored.isNull())
        return false;
    switch (node.op) {
    case Operator::Equal:
        return valuesEqual(attribute, stored, node.values.value(0), node.comparison);
    case Operator::In:
        for (const QVariant &value : node.values) {
            if (valuesEqual(attribute, stored, value, TextComparison::Exact))
                return true;
        }
        return false;
    case Operator::BeginsWith:
        return foldedStartsWith(stored.toString(), node.values.value(0).toString(), node.comparison);
    case Operator::Contains:
        return foldedContains(stored.toString(), node.values.value(0).toString(), node.comparison);
    default:
        return false;
    }
}
