#include "models/span_tree.h"

namespace rtu {

namespace {

bool nameLess(const QString &left, const QString &right)
{
    return QString::compare(left, right, Qt::CaseInsensitive) < 0;
}

} // namespace

SpanTree::Node::~Node() = default;

SpanTree::~SpanTree()
{
    destroy(m_root);
}

void SpanTree::destroy(Node *node)
{
    while (node) {
        destroy(node->m_left);
        Node *right = node->m_right;
        delete node;
        node = right;
    }
}

int SpanTree::size() const
{
    return m_root ? m_root->m_count : 0;
}

int SpanTree::totalSpan() const
{
    return m_root ? m_root->m_spanSum : 0;
}

void SpanTree::pull(Node *node)
{
    Node *const left = node->m_left;
    Node *const right = node->m_right;
    node->m_count = 1 + (left ? left->m_count : 0) + (right ? right->m_count : 0);
    node->m_spanSum = node->m_span + (left ? left->m_spanSum : 0) + (right ? right->m_spanSum : 0);
    const Node *highest = node;
    if (left && nameLess(highest->m_name, left->m_maxName->m_name))
        highest = left->m_maxName;
    if (right && nameLess(highest->m_name, right->m_maxName->m_name))
        highest = right->m_maxName;
    node->m_maxName = highest;
    if (left)
        left->m_parent = node;
    if (right)
        right->m_parent = node;
}

SpanTree::Node *SpanTree::merge(Node *left, Node *right)
{
    if (!left)
        return right;
    if (!right)
        return left;
    if (left->m_priority > right->m_priority) {
        left->m_right = merge(left->m_right, right);
        pull(left);
        return left;
    }
    right->m_left = merge(left, right->m_left);
    pull(right);
    return right;
}

void SpanTree::split(Node *tree, int count, Node *&left, Node *&right)
{
    if (!tree) {
        left = right = nullptr;
        return;
    }
    const int leftCount = tree->m_left ? tree->m_left->m_count : 0;
    if (leftCount < count) {
        split(tree->m_right, count - leftCount - 1, tree->m_right, right);
        left = tree;
    } else {
        split(tree->m_left, count, left, tree->m_left);
        right = tree;
    }
    pull(tree);
}

void SpanTree::refreshUpwards(Node *node)
{
    for (; node; node = node->m_parent)
        pull(node);
}

void SpanTree::insert(Node *node, int position, const QString &name, int span)
{
    // xorshift: priorities only need to look random to the order of inserts.
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    node->m_name = name;
    node->m_span = span;
    node->m_priority = m_seed;
    node->m_left = node->m_right = node->m_parent = nullptr;
    pull(node);
    Node *left = nullptr;
    Node *right = nullptr;
    split(m_root, position, left, right);
    m_root = merge(merge(left, node), right);
    m_root->m_parent = nullptr;
}

void SpanTree::erase(Node *node)
{
    Node *left = nullptr;
    Node *rest = nullptr;
    Node *middle = nullptr;
    Node *right = nullptr;
    split(m_root, positionOf(node), left, rest);
    split(rest, 1, middle, right);
    Q_ASSERT(middle == node);
    m_root = merge(left, right);
    if (m_root)
        m_root->m_parent = nullptr;
    delete middle;
}

void SpanTree::setSpan(Node *node, int span)
{
    node->m_span = span;
    refreshUpwards(node);
}

void SpanTree::rename(Node *node, const QString &name)
{
    node->m_name = name;
    refreshUpwards(node);
}

int SpanTree::lowerBound(const QString &name) const
{
    int position = 0;
    const Node *node = m_root;
    while (node) {
        const Node *left = node->m_left;
        if (left && !nameLess(left->m_maxName->m_name, name)) {
            node = left;
            continue;
        }
        const int leftCount = left ? left->m_count : 0;
        if (!nameLess(node->m_name, name))
            return position + leftCount;
        position += leftCount + 1;
        node = node->m_right;
    }
    return position;
}

int SpanTree::positionOf(const Node *node) const
{
    int position = node->m_left ? node->m_left->m_count : 0;
    for (const Node *child = node; child->m_parent; child = child->m_parent) {
        const Node *parent = child->m_parent;
        if (parent->m_right == child)
            position += 1 + (parent->m_left ? parent->m_left->m_count : 0);
    }
    return position;
}

int SpanTree::firstRowOf(const Node *node) const
{
    int row = node->m_left ? node->m_left->m_spanSum : 0;
    for (const Node *child = node; child->m_parent; child = child->m_parent) {
        const Node *parent = child->m_parent;
        if (parent->m_right == child)
            row += parent->m_span + (parent->m_left ? parent->m_left->m_spanSum : 0);
    }
    return row;
}

int SpanTree::firstRowAt(int position) const
{
    int row = 0;
    const Node *node = m_root;
    while (node) {
        const int leftCount = node->m_left ? node->m_left->m_count : 0;
        if (position < leftCount) {
            node = node->m_left;
            continue;
        }
        row += node->m_left ? node->m_left->m_spanSum : 0;
        if (position == leftCount)
            return row;
        row += node->m_span;
        position -= leftCount + 1;
        node = node->m_right;
    }
    return row;
}

SpanTree::Node *SpanTree::nodeAtRow(int row, int *offset) const
{
    Node *node = m_root;
    while (node) {
        const int leftSpan = node->m_left ? node->m_left->m_spanSum : 0;
        if (row < leftSpan) {
            node = node->m_left;
            continue;
        }
        row -= leftSpan;
        if (row < node->m_span) {
            if (offset)
                *offset = row;
            return node;
        }
        row -= node->m_span;
        node = node->m_right;
    }
    return nullptr;
}

SpanTree::Node *SpanTree::first() const
{
    Node *node = m_root;
    while (node && node->m_left)
        node = node->m_left;
    return node;
}

SpanTree::Node *SpanTree::next(const Node *node)
{
    if (node->m_right) {
        Node *child = node->m_right;
        while (child->m_left)
            child = child->m_left;
        return child;
    }
    while (node->m_parent && node->m_parent->m_right == node)
        node = node->m_parent;
    return node->m_parent;
}

} // namespace rtu
