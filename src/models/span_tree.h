#pragma once

#include <QString>
#include <QtGlobal>

namespace rtu {

// A sequence of named blocks of rows (a system row and its server rows) in
// list order. The first row of a block, the block at a row and the place of a
// new name each cost O(log n), so that a list of many systems stays cheap per
// new server. A randomised balanced tree (treap) ordered by position.
class SpanTree
{
public:
    class Node
    {
    public:
        virtual ~Node();

        const QString &name() const { return m_name; }
        int span() const { return m_span; }

    private:
        friend class SpanTree;

        QString m_name;
        int m_span = 1;
        Node *m_left = nullptr;
        Node *m_right = nullptr;
        Node *m_parent = nullptr;
        quint32 m_priority = 0;
        int m_count = 1;
        int m_spanSum = 1;
        const Node *m_maxName = this;
    };

    SpanTree() = default;
    ~SpanTree();
    SpanTree(const SpanTree &) = delete;
    SpanTree &operator=(const SpanTree &) = delete;

    int size() const;
    // The number of rows of all blocks together.
    int totalSpan() const;

    // Takes ownership; the node gets its name and span here.
    void insert(Node *node, int position, const QString &name, int span);
    // Deletes the node.
    void erase(Node *node);
    void setSpan(Node *node, int span);
    void rename(Node *node, const QString &name);

    // The first position whose name is not less than the given one, compared
    // without case; the size when there is none. The blocks need not be
    // sorted: this is what a walk from the front would find.
    int lowerBound(const QString &name) const;
    int firstRowOf(const Node *node) const;
    // The first row of the block at the position; the total span at the end.
    int firstRowAt(int position) const;
    // The block holding the row, and the row's place inside it.
    Node *nodeAtRow(int row, int *offset) const;

    Node *first() const;
    static Node *next(const Node *node);

private:
    static void pull(Node *node);
    static Node *merge(Node *left, Node *right);
    static void split(Node *tree, int count, Node *&left, Node *&right);
    static void refreshUpwards(Node *node);
    int positionOf(const Node *node) const;
    static void destroy(Node *node);

    Node *m_root = nullptr;
    quint32 m_seed = 0x9e3779b9u;
};

} // namespace rtu
