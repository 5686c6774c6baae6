// The CREG layout: a 32-byte file header, the RGKN key navigation area at 0x20 (one 28-byte
// entry per key, linked by first-child and next-sibling offsets), then RGDB data blocks holding
// each key's name and values.
#include "tests/support/HiveWriter.h"

#include <map>
#include <memory>
#include <stdexcept>

namespace hive {

namespace {

const std::string ROOT = "HKEY_LOCAL_MACHINE";
const std::uint32_t NONE = 0xFFFFFFFF;
const std::size_t FILE_HEADER = 32;
const std::size_t RGKN_HEADER = 32;
const std::size_t ENTRY_SIZE = 28;
const std::size_t BLOCK_HEADER = 32;
const std::size_t NAME_HEADER = 20;
const std::size_t VALUE_HEADER = 12;

struct Node {
  std::string name;
  std::vector<sim::RegistryValue> values;
  std::vector<std::unique_ptr<Node>> children;
  std::map<std::string, Node *> byName;  // folded: thousands of sub-keys are found without a walk
  std::size_t index = 0;                 // pre-order number
  std::uint16_t number = 0;              // entry number inside its block
  std::uint16_t block = 0;               // data block number
  const Node *pParent = nullptr;
  const Node *pNext = nullptr;  // next sibling
};

std::string Fold(std::string text) {
  for (char &c : text) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void Put16(std::string *pOut, std::size_t at, std::size_t value) {
  (*pOut)[at] = static_cast<char>(value & 0xFF);
  (*pOut)[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string *pOut, std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 4; ++i)
    (*pOut)[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

Node *Child(Node *pNode, const std::string &name) {
  Node *&pChild = pNode->byName[Fold(name)];
  if (pChild == nullptr) {
    pNode->children.push_back(std::make_unique<Node>());
    pChild = pNode->children.back().get();
    pChild->name = name;
  }
  return pChild;
}

void AddKey(Node *pRoot, const sim::RegistryKey &key) {
  if (key.path.compare(0, ROOT.size(), ROOT) != 0 || (key.path.size() > ROOT.size() && key.path[ROOT.size()] != '\\'))
    throw std::invalid_argument("not a key of " + ROOT + ": " + key.path);
  Node *pNode = pRoot;
  std::size_t start = ROOT.size() + 1;
  while (start <= key.path.size()) {
    std::size_t end = key.path.find('\\', start);
    if (end == std::string::npos)
      end = key.path.size();
    if (end > start)
      pNode = Child(pNode, key.path.substr(start, end - start));
    start = end + 1;
  }
  if (pNode == pRoot && !key.values.empty())
    throw std::invalid_argument("a registry file cannot hold values of its root");
  for (const sim::RegistryValue &value : key.values) {
    bool fReplaced = false;
    for (sim::RegistryValue &old : pNode->values) {
      if (Fold(old.name) == Fold(value.name)) {
        old.dwType = value.dwType;
        old.data = value.data;
        fReplaced = true;
      }
    }
    if (!fReplaced)
      pNode->values.push_back(value);
  }
}

// Pre-order without recursion: a hierarchy can be as deep as it has keys.
void Number(Node *pRoot, std::vector<Node *> *pOrder) {
  std::vector<Node *> pending{pRoot};
  while (!pending.empty()) {
    Node *pNode = pending.back();
    pending.pop_back();
    pNode->index = pOrder->size();
    pOrder->push_back(pNode);
    for (std::size_t i = pNode->children.size(); i-- > 0;) {
      pNode->children[i]->pParent = pNode;
      if (i + 1 < pNode->children.size())
        pNode->children[i]->pNext = pNode->children[i + 1].get();
      pending.push_back(pNode->children[i].get());
    }
  }
}

std::string NameEntry(const Node &node) {
  std::string entry(NAME_HEADER, '\0');
  entry += node.name;
  for (const sim::RegistryValue &value : node.values) {
    if (value.name.size() > 0xFFFF || value.data.size() > 0xFFFF)
      throw std::invalid_argument("a value name or data over 65535 bytes in " + node.name);
    std::string head(VALUE_HEADER, '\0');
    Put32(&head, 0, value.dwType);
    Put16(&head, 8, value.name.size());
    Put16(&head, 10, value.data.size());
    entry += head + value.name + value.data;
  }
  if (node.name.empty() || node.name.size() > 0xFFFF || node.values.size() > 0xFFFF)
    throw std::invalid_argument("a key name or value count a registry file cannot hold: " + node.name);
  Put32(&entry, 0, entry.size());
  Put16(&entry, 4, node.number);
  Put16(&entry, 6, node.block);
  Put32(&entry, 8, entry.size());
  Put16(&entry, 12, node.name.size());
  Put16(&entry, 14, node.values.size());
  return entry;
}

std::string Block(const std::string &payload, std::size_t number) {
  std::string block(BLOCK_HEADER, '\0');
  block.replace(0, 4, "RGDB");
  Put32(&block, 4, BLOCK_HEADER + payload.size());
  Put16(&block, 14, number);
  Put32(&block, 16, BLOCK_HEADER + payload.size());
  return block + payload;
}

std::uint32_t NameHash(const std::string &name) {
  std::uint32_t ulHash = 0;
  for (char c : Fold(name)) {
    if (static_cast<unsigned char>(c) < 0x80)
      ulHash += static_cast<unsigned char>(c);
  }
  return ulHash;
}

}  // namespace

std::size_t EntryLink(std::size_t i) {
  return RGKN_HEADER + ENTRY_SIZE * i;
}

std::size_t EntryOffset(std::size_t i) {
  return FILE_HEADER + EntryLink(i);
}

std::string HiveImage(const std::vector<sim::RegistryKey> &keys, std::size_t blockSize) {
  Node root;
  for (const sim::RegistryKey &key : keys)
    AddKey(&root, key);
  std::vector<Node *> order;
  Number(&root, &order);

  // Name entries of every key but the root, packed into blocks filled exactly.
  std::vector<std::string> payloads(1);
  std::vector<std::uint16_t> counts(1, 0);
  for (std::size_t i = 1; i < order.size(); ++i) {
    std::size_t size = NameEntry(*order[i]).size();
    if (BLOCK_HEADER + size > blockSize)
      throw std::invalid_argument("key too large for one data block: " + order[i]->name);
    if (BLOCK_HEADER + payloads.back().size() + size > blockSize) {
      payloads.emplace_back();
      counts.push_back(0);
    }
    order[i]->block = static_cast<std::uint16_t>(payloads.size() - 1);
    order[i]->number = counts.back()++;
    payloads.back() += NameEntry(*order[i]);
  }
  if (payloads.back().empty()) {  // no key: a block holding one free entry, else no root is found
    std::string free(NAME_HEADER, '\0');
    Put32(&free, 0, NAME_HEADER);
    Put16(&free, 4, 0xFFFF);
    Put16(&free, 6, 0xFFFF);
    Put32(&free, 8, NAME_HEADER);
    payloads.back() = free;
  }

  // The navigation area, with at least 32 spare bytes after the last entry, in whole pages.
  std::size_t rgknSize = (RGKN_HEADER + ENTRY_SIZE * order.size() + 32 + 4095) / 4096 * 4096;
  std::string rgkn(rgknSize, '\0');
  rgkn.replace(0, 4, "RGKN");
  Put32(&rgkn, 4, rgknSize);
  Put32(&rgkn, 8, RGKN_HEADER);
  Put32(&rgkn, 12, ENTRY_SIZE * (order.size() - 1));
  for (const Node *pNode : order) {
    std::size_t at = EntryLink(pNode->index);
    bool fRoot = pNode == &root;
    Put32(&rgkn, at + 4, fRoot ? 0 : NameHash(pNode->name));
    Put32(&rgkn, at + 8, NONE);
    Put32(&rgkn, at + 12, fRoot ? NONE : EntryLink(pNode->pParent->index));
    Put32(&rgkn, at + ENTRY_FIRST_CHILD, pNode->children.empty() ? NONE : EntryLink(pNode->children[0]->index));
    Put32(&rgkn, at + ENTRY_NEXT_SIBLING, pNode->pNext ? EntryLink(pNode->pNext->index) : NONE);
    Put16(&rgkn, at + 24, fRoot ? 0xFFFF : pNode->number);
    Put16(&rgkn, at + 26, fRoot ? 0xFFFF : pNode->block);
  }

  std::string file(FILE_HEADER, '\0');
  file.replace(0, 4, "CREG");
  Put16(&file, 6, 1);
  Put32(&file, 8, FILE_HEADER + rgknSize);
  Put16(&file, 16, payloads.size());
  file += rgkn;
  for (std::size_t i = 0; i < payloads.size(); ++i)
    file += Block(payloads[i], i);
  return file;
}

}  // namespace hive
