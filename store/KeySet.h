#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

// Row keys to test many rows against: a bitmap over their range, or the sorted keys when
// the range is far wider than their number.
class KeySet
{
public:
    explicit KeySet(std::vector<qint64> keys) : m_keys(std::move(keys))
    {
        // Keys read from a table or the index mostly come in order already.
        if (!std::is_sorted(m_keys.begin(), m_keys.end()))
            std::sort(m_keys.begin(), m_keys.end());
        m_keys.erase(std::unique(m_keys.begin(), m_keys.end()), m_keys.end());
        m_size = m_keys.size();
        if (m_keys.empty())
            return;
        m_first = m_keys.front();
        const quint64 span = quint64(m_keys.back()) - quint64(m_first);
        if (span / 64 < m_keys.size() + 1024) {
            m_bits.assign(size_t(span / 64 + 1), 0);
            for (qint64 key : m_keys) {
                const quint64 bit = quint64(key) - quint64(m_first);
                m_bits[size_t(bit / 64)] |= quint64(1) << (bit % 64);
            }
            m_keys = {};
        }
    }

    size_t size() const { return m_size; }

    bool contains(qint64 key) const
    {
        if (m_bits.empty())
            return std::binary_search(m_keys.begin(), m_keys.end(), key);
        const quint64 bit = quint64(key) - quint64(m_first);
        return bit / 64 < m_bits.size() && (m_bits[size_t(bit / 64)] >> (bit % 64)) & 1;
    }

private:
    std::vector<qint64> m_keys;
    std::vector<quint64> m_bits;
    qint64 m_first = 0;
    size_t m_size = 0;
};
