// The label tree model.
#include "glyphs/labeltree.h"

#include "glyphs/glyph.h"

#include <algorithm>
#include <stdexcept>

namespace lapido {

TTreeNode::~TTreeNode() = default;

void TTreeNode::setText(const QString& text)
{
    m_text = text;
    if (m_tree)
        m_tree->notify();
}

void TTreeNode::setData(std::unique_ptr<TGlyph> glyph)
{
    m_glyph = std::move(glyph);
    if (m_tree)
        m_tree->Touch();
}

std::unique_ptr<TGlyph> TTreeNode::takeData()
{
    if (m_tree)
        m_tree->Touch();
    return std::move(m_glyph);
}

int TTreeNode::Index() const
{
    const auto& siblings = m_parent ? m_parent->m_children : m_tree->m_roots;
    for (size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == this)
            return static_cast<int>(i);
    return -1;
}

int TTreeNode::Level() const
{
    int level = 0;
    for (const TTreeNode* p = m_parent; p; p = p->m_parent)
        ++level;
    return level;
}

void TTreeNode::setExpanded(bool on)
{
    m_expanded = on;
    if (m_tree)
        m_tree->notify();
}

TTreeNode* TTreeNode::AddChild(const QString& text)
{
    m_children.push_back(std::make_unique<TTreeNode>(m_tree, this));
    TTreeNode* node = m_children.back().get();
    node->m_text = text;
    if (m_tree)
        m_tree->notify();
    return node;
}

void TTreeNode::DeleteChildren()
{
    if (m_tree)
        for (const auto& c : m_children)
            m_tree->forgetSelectionIn(c.get());
    m_children.clear();
    if (m_tree)
        m_tree->notify();
}

bool TTreeNode::Selected() const
{
    return m_tree && m_tree->Selected() == this;
}

TLabelTree::TLabelTree() = default;

TLabelTree::~TLabelTree()
{
    onChanged = nullptr;
    m_selected = nullptr;
    m_roots.clear();
}

TTreeNode* TLabelTree::Add(const QString& text)
{
    return Insert(RootCount(), text);
}

TTreeNode* TLabelTree::Insert(int index, const QString& text)
{
    index = std::clamp(index, 0, RootCount());
    auto node = std::make_unique<TTreeNode>(this, nullptr);
    node->m_text = text;
    TTreeNode* raw = node.get();
    m_roots.insert(m_roots.begin() + index, std::move(node));
    notify();
    return raw;
}

TTreeNode* TLabelTree::AddChild(TTreeNode* parent, const QString& text)
{
    return parent ? parent->AddChild(text) : Add(text);
}

bool TLabelTree::contains(const TTreeNode* root, const TTreeNode* node) const
{
    for (const TTreeNode* p = node; p; p = p->m_parent)
        if (p == root)
            return true;
    return false;
}

void TLabelTree::forgetSelectionIn(const TTreeNode* node)
{
    if (m_selected && contains(node, m_selected))
        m_selected = nullptr;
}

void TLabelTree::Delete(TTreeNode* node)
{
    if (!node)
        return;
    forgetSelectionIn(node);
    auto& siblings = node->m_parent ? node->m_parent->m_children : m_roots;
    auto it = std::find_if(siblings.begin(), siblings.end(), [node](const auto& p) { return p.get() == node; });
    if (it != siblings.end())
        siblings.erase(it);
    notify();
}

void TLabelTree::Clear()
{
    m_selected = nullptr;
    m_roots.clear();
    notify();
}

void TLabelTree::MoveRoot(int from, int to)
{
    if (from < 0 || from >= RootCount() || to < 0 || to >= RootCount() || from == to)
        return;
    auto node = std::move(m_roots[static_cast<size_t>(from)]);
    m_roots.erase(m_roots.begin() + from);
    m_roots.insert(m_roots.begin() + to, std::move(node));
    notify();
}

std::vector<TTreeNode*> TLabelTree::Items() const
{
    std::vector<TTreeNode*> out;
    std::function<void(TTreeNode*)> walk = [&](TTreeNode* n) {
        out.push_back(n);
        for (const auto& c : n->m_children)
            walk(c.get());
    };
    for (const auto& r : m_roots)
        walk(r.get());
    return out;
}

} // namespace lapido
