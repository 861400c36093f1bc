// The label tree: nodes with a caption, the glyph they own, children, expanded state, icons
// and the tree's selection. The main window only shows it.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace lapido {

class TGlyph;
class TLabelTree;

class TTreeNode {
public:
    explicit TTreeNode(TLabelTree* tree, TTreeNode* parent) : m_tree(tree), m_parent(parent) {}
    ~TTreeNode();
    TTreeNode(const TTreeNode&) = delete;
    TTreeNode& operator=(const TTreeNode&) = delete;

    const QString& Text() const { return m_text; }
    void setText(const QString& text);

    // The glyph this node carries (owned). Replacing it frees the previous one.
    TGlyph* Data() const { return m_glyph.get(); }
    void setData(std::unique_ptr<TGlyph> glyph);
    std::unique_ptr<TGlyph> takeData();

    TTreeNode* Parent() const { return m_parent; }
    TLabelTree* Owner() const { return m_tree; }
    int Count() const { return static_cast<int>(m_children.size()); }
    TTreeNode* Item(int index) const { return m_children.at(static_cast<size_t>(index)).get(); }
    bool HasChildren() const { return !m_children.empty(); }
    // Position among the parent's children (or among the roots).
    int Index() const;
    int Level() const;

    bool Expanded() const { return m_expanded; }
    void setExpanded(bool on);
    int ImageIndex = -1;
    int SelectedIndex = -1;
    int StateIndex = -1;

    // Adds a child at the end and returns it.
    TTreeNode* AddChild(const QString& text);
    // Deletes every child (and their glyphs).
    void DeleteChildren();
    bool Selected() const;

private:
    friend class TLabelTree;
    TLabelTree* m_tree;
    TTreeNode* m_parent;
    QString m_text;
    std::unique_ptr<TGlyph> m_glyph;
    std::vector<std::unique_ptr<TTreeNode>> m_children;
    bool m_expanded = false;
};

// Roots in order, each with its subtree. Nodes stay at the same address until deleted.
class TLabelTree {
public:
    TLabelTree();
    ~TLabelTree();
    TLabelTree(const TLabelTree&) = delete;
    TLabelTree& operator=(const TLabelTree&) = delete;

    int RootCount() const { return static_cast<int>(m_roots.size()); }
    TTreeNode* Root(int index) const { return m_roots.at(static_cast<size_t>(index)).get(); }
    // Adds a node at the end of the roots, or after/as child as the window's commands need.
    TTreeNode* Add(const QString& text);
    TTreeNode* Insert(int index, const QString& text);
    TTreeNode* AddChild(TTreeNode* parent, const QString& text);
    // Deletes the node, its subtree and their glyphs. The selection moves to none if inside.
    void Delete(TTreeNode* node);
    void Clear();
    // Moves a root node to another root index (label editing moves whole glyphs).
    void MoveRoot(int from, int to);

    // Every node, a parent before its children, roots in order (the walkers' order).
    std::vector<TTreeNode*> Items() const;
    int Count() const { return static_cast<int>(Items().size()); }
    bool IsEmpty() const { return m_roots.empty(); }

    TTreeNode* Selected() const { return m_selected; }
    void setSelected(TTreeNode* node) { m_selected = node; notify(); }

    // Called after every structural or caption change (the window refreshes its view).
    std::function<void()> onChanged;
    void notify() const
    {
        ++m_revision;
        if (onChanged)
            onChanged();
    }
    // Counts the changes of the label: structure, captions, selection and, through Touch, what
    // a glyph holds (its sizes, its content, whether it is marked). The same revision is the
    // same label, so that whoever derives something from the label (the window's preview, its
    // overlay) recomputes only when it changed, at a cost that does not grow with the label.
    std::uint64_t Revision() const { return m_revision; }
    void Touch() { ++m_revision; }

private:
    friend class TTreeNode;
    bool contains(const TTreeNode* root, const TTreeNode* node) const;
    void forgetSelectionIn(const TTreeNode* node);

    std::vector<std::unique_ptr<TTreeNode>> m_roots;
    TTreeNode* m_selected = nullptr;
    mutable std::uint64_t m_revision = 0;
};

} // namespace lapido
