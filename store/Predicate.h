#pragma once

#include "store/TextComparison.h"

#include <QList>
#include <QString>
#include <QUuid>
#include <QVariant>

#include <memory>

class StoreObject;

// A condition on one entity's attributes, built in C++ and compiled to SQL with bound
// values; the same predicate is evaluated in memory for unsaved objects.
//
//   Predicate::equal(u"contentHash"_qs, hash)                       contentHash == %lld
//   Predicate::equal(u"isPinned"_qs, false)                         isPinned == NO
//   Predicate::in(u"contentHash"_qs, {a, b})                        contentHash IN %@
//   Predicate::beginsWith(u"plainText"_qs, u"http://"_qs, TextComparison::CaseInsensitive)
//   Predicate::contains(u"title"_qs, text, TextComparison::CaseDiacriticInsensitive)
//   Predicate::equal(u"name"_qs, name, TextComparison::CaseInsensitive)   name ==[c] %@
//   a && b, a || b, Predicate::allOf({...}), Predicate::anyOf({...})
//
// An absent attribute matches no comparison (use isNull for that), and an empty search
// text matches nothing. Attribute names and value types are checked when the predicate
// is used: a mismatch fails the fetch with InvalidRequest rather than matching nothing.
class Predicate
{
public:
    enum class Operator { Equal, In, BeginsWith, Contains, IsNull, And, Or };

    static Predicate equal(const QString &attribute, const QString &value,
                           TextComparison comparison = TextComparison::Exact);
    static Predicate equal(const QString &attribute, qint64 value);
    static Predicate equal(const QString &attribute, int value) { return equal(attribute, qint64(value)); }
    static Predicate equal(const QString &attribute, bool value);
    static Predicate equal(const QString &attribute, const QUuid &value);
    static Predicate isNull(const QString &attribute);
    static Predicate in(const QString &attribute, const QList<qint64> &values);
    static Predicate in(const QString &attribute, const QStringList &values);
    static Predicate beginsWith(const QString &attribute, const QString &prefix,
                                TextComparison comparison = TextComparison::Exact);
    static Predicate contains(const QString &attribute, const QString &text,
                              TextComparison comparison = TextComparison::Exact);
    static Predicate allOf(const QList<Predicate> &predicates);
    static Predicate anyOf(const QList<Predicate> &predicates);

    Operator op() const { return m_node->op; }
    const QString &attribute() const { return m_node->attribute; }
    const QVariantList &values() const { return m_node->values; }
    TextComparison comparison() const { return m_node->comparison; }
    const QList<Predicate> &children() const { return m_node->children; }

    // Whether an object's current values (unsaved changes included) satisfy the predicate.
    // The predicate must have been checked against the object's entity (see PredicateSql).
    bool evaluate(const StoreObject &object) const;

    friend Predicate operator&&(const Predicate &a, const Predicate &b) { return allOf({a, b}); }
    friend Predicate operator||(const Predicate &a, const Predicate &b) { return anyOf({a, b}); }
    // Same operators, attributes, values and comparisons throughout.
    friend bool operator==(const Predicate &a, const Predicate &b);

private:
    struct Node {
        Operator op = Operator::And;
        QString attribute;
        QVariantList values;
        TextComparison comparison = TextComparison::Exact;
        QList<Predicate> children;
    };

    explicit Predicate(std::shared_ptr<const Node> node) : m_node(std::move(node)) { }
    static Predicate make(Node node);

    std::shared_ptr<const Node> m_node;
};
