// Kelp's compiled tokens turned into Excel formula tokens (BIFF5 and BIFF8).
#include "files/ExcelFormula.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "files/DocStream.h"
#include "files/ExcelAddIns.h"
#include "files/ExcelTokens.h"
#include "formula/Catalogue.h"
#include "formula/ExcelFunctions.h"
#include "formula/Tokens.h"
#include "model/HandlePool.h"

namespace kelp {

namespace {

using namespace excel;
using Result = ExcelExportResult;

// What a position asks of the token placed there: bits 5 and 6 of the code.
namespace Class {
constexpr uint8_t Reference = 0x20, Value = 0x40, Array = 0x60;
}

constexpr uint16_t Biff5RowLimit = 0x4000;
constexpr size_t MaxExcelString = 255;
constexpr uint32_t None = UINT32_MAX;

// One operand or operation of the formula, in Kelp's (postfix) order.
struct Node {
  uint8_t op = 0;
  const uint8_t* payload = nullptr;
  uint32_t kelpAt = 0;        // position of the op in the Kelp tokens
  uint32_t firstNode = 0;     // earliest node of the subtree: where its tokens begin
  uint32_t children = 0;      // first entry in the child list
  uint8_t childCount = 0;
  // Jumps the compiler put after this operand when it is an argument of If.
  uint32_t jumpIfFalseAt = None;
  uint32_t jumpAt = None;
  bool ifWithJumps = false;   // a Call of If in the compiler's jump form
  uint8_t attrAfter = 0;      // the ptgAttr type written after this operand's tokens
  uint8_t choices = 0;        // on a Choose index: the choices its jump table has room for
  bool chooseCall = false;    // a Call of Choose, whose index and choices carry ptgAttrs
  uint8_t tokenClass = Class::Value;
  bool arrayContext = false;  // under an array-class argument, values become arrays
  uint32_t excelAt = 0;       // where this node's own Excel token starts
  uint32_t attrAt = 0;        // where the ptgAttr after it starts
};

// The exporter's working lists, kept from one formula to the next: a workbook's formulas
// are converted one after another, and allocating them anew for each was most of the cost.
struct Scratch {
  std::vector<Node> nodes;
  std::vector<uint32_t> children;
  std::vector<uint32_t> stack;
  std::vector<uint8_t> out;
  std::vector<std::pair<uint32_t, uint32_t>> named;  // calls by name: first node, call node
  void clear() {
    named.clear();
    nodes.clear();
    children.clear();
    stack.clear();
    out.clear();
  }
};

class Exporter {
 public:
  Exporter(const uint8_t* tokens, size_t length, CellPosition cell, ExcelExportKind kind,
           ExcelExportContext& context, Scratch& scratch, std::vector<uint8_t>* extra)
      : m_extra(extra),
        m_tokens(tokens),
        m_length(length),
        m_kind(kind),
        m_base(kind == ExcelExportKind::Name ? CellPosition{0, 0, 0} : cell),
        m_context(context),
        m_biff8(context.biff8 && !context.pocket),
        m_pocket(context.pocket),
        m_nodes(scratch.nodes),
        m_children(scratch.children),
        m_stack(scratch.stack),
        m_out(scratch.out),
        m_named(scratch.named) {}

  Result run() {
    Result result = buildTree();
    if (result != Result::Written) return result;
    assignClasses();
    return emitAll();
  }

  std::vector<uint8_t>& bytes() { return m_out; }

 private:
  // --- The tree, from the postfix tokens ---

  Result buildTree() {
    if (!m_tokens && m_length) return Result::Malformed;
    size_t pos = 0;
    while (pos < m_length) {
      const uint8_t op = m_tokens[pos];
      if (op == static_cast<uint8_t>(Op::End)) break;
      const uint8_t size = payloadSize(op);
      if (size == 255 || m_length - pos - 1 < size) return Result::Malformed;
      Result result = node(op, static_cast<uint32_t>(pos), m_tokens + pos + 1);
      if (result != Result::Written) return result;
      if (op == static_cast<uint8_t>(Op::Array)) {
        // One operand, its elements with it.
        const size_t bytes = arrayTokenLength(m_tokens, m_length, pos);
        if (bytes == 0) return Result::Malformed;
        pos += bytes;
        continue;
      }
      pos += 1 + size;
    }
    if (m_stack.size() != 1) return Result::Malformed;
    if (hasJumps(m_stack[0])) return Result::NoExcelForm;
    return Result::Written;
  }

  bool hasJumps(uint32_t index) const {
    return m_nodes[index].jumpIfFalseAt != None || m_nodes[index].jumpAt != None;
  }

  // Makes a node of `op` over the top `count` stack entries and pushes it.
  Result push(uint8_t op, uint32_t at, const uint8_t* payload, size_t count) {
    if (m_stack.size() < count) return Result::Malformed;
    Node n;
    n.op = op;
    n.payload = payload;
    n.kelpAt = at;
    n.children = static_cast<uint32_t>(m_children.size());
    n.childCount = static_cast<uint8_t>(count);
    n.firstNode = static_cast<uint32_t>(m_nodes.size());
    const size_t first = m_stack.size() - count;
    if (count) n.firstNode = m_nodes[m_stack[first]].firstNode;
    m_children.insert(m_children.end(), m_stack.begin() + static_cast<std::ptrdiff_t>(first), m_stack.end());
    m_stack.resize(first);
    m_stack.push_back(static_cast<uint32_t>(m_nodes.size()));
    m_nodes.push_back(n);
    return Result::Written;
  }

  // Operators take operands without jumps; only If owns jumps.
  Result operation(uint8_t op, uint32_t at, size_t count) {
    if (m_stack.size() < count) return Result::Malformed;
    for (size_t i = m_stack.size() - count; i < m_stack.size(); ++i)
      if (hasJumps(m_stack[i])) return Result::NoExcelForm;
    return push(op, at, nullptr, count);
  }

  Result node(uint8_t op, uint32_t at, const uint8_t* payload) {
    switch (static_cast<Op>(op)) {
      case Op::Add: case Op::Subtract: case Op::Multiply: case Op::Divide:
      case Op::Equal: case Op::Less: case Op::Greater: case Op::LessEqual: case Op::GreaterEqual:
      case Op::NotEqual: case Op::Concatenate: case Op::Power:
        return operation(op, at, 2);
      case Op::UnaryPlus: case Op::UnaryMinus: case Op::Percent: case Op::Parentheses:
        return operation(op, at, 1);
      case Op::Jump:
      case Op::JumpIfFalse: {
        if (m_stack.empty()) return Result::Malformed;
        Node& top = m_nodes[m_stack.back()];
        if (top.jumpIfFalseAt != None || top.jumpAt != None) return Result::NoExcelForm;
        (op == static_cast<uint8_t>(Op::Jump) ? top.jumpAt : top.jumpIfFalseAt) = at;
        return Result::Written;
      }
      case Op::ChooseCase: return Result::Written;  // Choose's call checks its layout
      case Op::Call: return call(at, payload);
      case Op::Discard: case Op::AssignVariable: case Op::ReadVariable: case Op::CallTask:
      case Op::ForTest: case Op::ForStep:
        return Result::NoExcelForm;
      default:
        return push(op, at, payload, 0);
    }
  }

  // Where a Kelp jump at `at` continues: op 35 at payload + offset + 2, op 34 at
  // payload + offset + 3.
  int64_t jumpTarget(uint32_t at) const {
    const int64_t offset = readI16(m_tokens + at + 1);
    return at + offset + (m_tokens[at] == static_cast<uint8_t>(Op::Jump) ? 4 : 3);
  }

  Result call(uint32_t at, const uint8_t* payload) {
    const uint16_t index = readU16(payload);
    size_t count = payload[2];
    const bool withJumps = index == FunctionIndex::If && count > 10;
    if (withJumps) count -= 10;
    const bool withCases = index == FunctionIndex::Choose && count > ChooseJumpForm;
    if (withCases) count -= ChooseJumpForm;
    if (m_stack.size() < count) return Result::Malformed;
    const size_t first = m_stack.size() - count;
    if (withCases) {
      // Each choice ends in a jump to the call; Excel's own jumps are written instead.
      for (size_t i = first + 1; i < m_stack.size(); ++i) {
        Node& choice = m_nodes[m_stack[i]];
        if (choice.jumpAt == None || choice.jumpIfFalseAt != None || jumpTarget(choice.jumpAt) != at)
          return Result::NoExcelForm;
        choice.jumpAt = None;
      }
    }
    if (withJumps) {
      // Exactly the compiler's layout: the condition jumps to the third argument (or to
      // the call, which then gives false) and each branch jumps past the call.
      if (count != 2 && count != 3) return Result::NoExcelForm;
      Node& condition = m_nodes[m_stack[first]];
      if (condition.jumpIfFalseAt == None || condition.jumpAt != None) return Result::NoExcelForm;
      const int64_t elseAt = count == 3 ? m_nodes[m_nodes[m_stack[first + 2]].firstNode].kelpAt : at;
      if (jumpTarget(condition.jumpIfFalseAt) != elseAt) return Result::NoExcelForm;
      condition.attrAfter = AttrBit::If;
      for (size_t i = first + 1; i < m_stack.size(); ++i) {
        Node& branch = m_nodes[m_stack[i]];
        if (branch.jumpAt == None || branch.jumpIfFalseAt != None) return Result::NoExcelForm;
        if (jumpTarget(branch.jumpAt) != at + 4) return Result::NoExcelForm;
        branch.attrAfter = AttrBit::Goto;
      }
      for (size_t i = first; i < m_stack.size(); ++i) {
        m_nodes[m_stack[i]].jumpAt = None;
        m_nodes[m_stack[i]].jumpIfFalseAt = None;
      }
    } else {
      for (size_t i = first; i < m_stack.size(); ++i)
        if (hasJumps(m_stack[i])) return Result::NoExcelForm;
    }
    // Excel reads Choose as its index, a jump table, and each choice ended by a goto.
    const bool choose = index == FunctionIndex::Choose && count >= 2;
    if (choose) {
      m_nodes[m_stack[first]].attrAfter = AttrBit::Choose;
      m_nodes[m_stack[first]].choices = static_cast<uint8_t>(count - 1);
      for (size_t i = first + 1; i < m_stack.size(); ++i) m_nodes[m_stack[i]].attrAfter = AttrBit::Goto;
    }
    Result result = push(static_cast<uint8_t>(Op::Call), at, payload, count);
    if (result == Result::Written) {
      m_nodes.back().ifWithJumps = withJumps;
      m_nodes.back().chooseCall = choose;
      if (excelFunctionNumber(index) < 0 && excelNamedRow(index))
        m_named.emplace_back(m_nodes.back().firstNode, static_cast<uint32_t>(m_nodes.size() - 1));
    }
    return result;
  }

  // --- Token classes, from the top down ---

  // The parent comes after its children in postfix order, so one backward sweep hands
  // every position its class before the node standing there is reached.
  void assignClasses() {
    Node& top = m_nodes.back();
    top.tokenClass = m_kind == ExcelExportKind::Cell ? Class::Value : Class::Reference;
    for (size_t i = m_nodes.size(); i-- > 0;) {
      const Node& n = m_nodes[i];
      // Unknown functions are refused when written; their arguments can take any class.
      const ExcelFunctionRow* row = nullptr;
      if (n.op == static_cast<uint8_t>(Op::Call)) {
        const int32_t number = excelFunctionNumber(readU16(n.payload));
        const ExcelNamedRow* named = number < 0 ? excelNamedRow(readU16(n.payload)) : nullptr;
        row = named ? &named->row : &excelFunctionRow(number);
      }
      for (uint8_t c = 0; c < n.childCount; ++c) {
        Node& child = m_nodes[m_children[n.children + c]];
        uint8_t wanted = Class::Value;
        if (n.op == static_cast<uint8_t>(Op::Parentheses)) {
          wanted = n.tokenClass;
        } else if (row) {
          const uint8_t argClass = excelArgClass(*row, c);
          wanted = argClass == ExcelArgClass::Reference ? Class::Reference
                   : argClass == ExcelArgClass::Array   ? Class::Array
                                                        : Class::Value;
        }
        child.arrayContext = n.arrayContext || wanted == Class::Array;
        // Excel evaluates operands under an array argument element by element, which
        // their array class tells it; a reference stays a reference.
        if (child.arrayContext && wanted == Class::Value) wanted = Class::Array;
        child.tokenClass = wanted;
      }
    }
  }

  // --- Excel tokens ---

  void u8(uint8_t b) { m_out.push_back(b); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void zeros(size_t n) { m_out.insert(m_out.end(), n, 0); }
  void number(double d) {
    u8(Ptg::Num);
    const size_t at = m_out.size();
    zeros(8);
    std::memcpy(&m_out[at], &d, 8);
  }
  // Desktop programs write small whole numbers as ptgInt.
  void numeric(double d) {
    if (d >= 0 && d <= 65535 && std::floor(d) == d && !std::signbit(d)) {
      u8(Ptg::Int);
      u16(static_cast<uint16_t>(d));
    } else {
      number(d);
    }
  }

  static bool isVolatile(uint16_t index) {
    return index == FunctionIndex::Rand || index == FunctionIndex::Now || index == FunctionIndex::Today;
  }

  Result emitAll() {
    // Excel learns that a formula must be recalculated every time from a leading mark.
    for (const Node& n : m_nodes)
      if (n.op == static_cast<uint8_t>(Op::Call) && isVolatile(readU16(n.payload))) {
        u8(Ptg::Attr);
        u8(AttrBit::Volatile);
        u16(0);
        break;
      }
    // A call by name starts with the name, before its first argument; the outer call's
    // name comes first where calls start at one node.
    std::sort(m_named.begin(), m_named.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    size_t nextNamed = 0;
    for (uint32_t i = 0; i < m_nodes.size(); ++i) {
      for (; nextNamed < m_named.size() && m_named[nextNamed].first == i; ++nextNamed) {
        Result result = functionName(readU16(m_nodes[m_named[nextNamed].second].payload));
        if (result != Result::Written) return result;
      }
      Node& n = m_nodes[i];
      n.excelAt = static_cast<uint32_t>(m_out.size());
      Result result = emit(n);
      if (result != Result::Written) return result;
      if (n.attrAfter) {
        n.attrAt = static_cast<uint32_t>(m_out.size());
        u8(Ptg::Attr);
        u8(n.attrAfter);
        u16(0);
        if (n.attrAfter == AttrBit::Choose) zeros(2 * (n.choices + 1u));
      }
    }
    return Result::Written;
  }

  static uint8_t classed(uint8_t code, uint8_t tokenClass) { return static_cast<uint8_t>((code & 0x1F) | tokenClass); }
  static uint8_t classed(uint8_t code, const Node& n) { return classed(code, n.tokenClass); }

  Result emit(const Node& n) {
    const uint8_t* p = n.payload;
    switch (static_cast<Op>(n.op)) {
      case Op::Add: u8(Ptg::Add); break;
      case Op::Subtract: u8(Ptg::Sub); break;
      case Op::Multiply: u8(Ptg::Mul); break;
      case Op::Divide: u8(Ptg::Div); break;
      case Op::UnaryPlus: u8(Ptg::Uplus); break;
      case Op::UnaryMinus: u8(Ptg::Uminus); break;
      case Op::Equal: u8(Ptg::Eq); break;
      case Op::Less: u8(Ptg::Lt); break;
      case Op::Greater: u8(Ptg::Gt); break;
      case Op::LessEqual: u8(Ptg::Le); break;
      case Op::GreaterEqual: u8(Ptg::Ge); break;
      case Op::NotEqual: u8(Ptg::Ne); break;
      case Op::Concatenate: u8(Ptg::Concat); break;
      case Op::Power: u8(Ptg::Power); break;
      case Op::Percent: u8(Ptg::Percent); break;
      case Op::Parentheses: u8(Ptg::Paren); break;
      case Op::Number: numeric(readDouble(p)); break;
      case Op::DateTime: number(readDouble(p)); break;
      case Op::SmallInteger: numeric(readU16(p)); break;
      case Op::Integer: numeric(static_cast<int32_t>(readU32(p))); break;
      case Op::Logical:
        u8(Ptg::Bool);
        u8(*p ? 1 : 0);
        break;
      case Op::ErrorLiteral: return error(readU16(p));
      case Op::String: return string(readU32(p));
      case Op::Constant: return constant(p);
      case Op::CellRef:
      case Op::AreaRef: return reference(n, n.op == static_cast<uint8_t>(Op::AreaRef), p, false);
      case Op::SheetCellRef:
      case Op::SheetAreaRef: return sheetReference(n, n.op == static_cast<uint8_t>(Op::SheetAreaRef), p);
      case Op::DeletedCellRef:
        u8(classed(Ptg::RefErr, n));
        zeros(m_biff8 ? 4 : 3);
        break;
      case Op::DeletedAreaRef:
        u8(classed(Ptg::AreaErr, n));
        zeros(m_biff8 ? 8 : 6);
        break;
      case Op::DeletedSheetCellRef:
      case Op::DeletedSheetAreaRef: return deletedSheetReference(n, n.op == static_cast<uint8_t>(Op::DeletedSheetAreaRef));
      case Op::Name: return name(n, readU16(p));
      case Op::Call: return function(n);
      case Op::Array: return array(n);
      default: return Result::Malformed;
    }
    return Result::Written;
  }

  // tArray with 7 unused bytes; its shape and elements, row by row, go to the data the
  // record carries after the tokens. Pocket Excel has no array token.
  Result array(const Node& n) {
    if (m_pocket || !m_extra) return Result::NoExcelForm;
    const ArrayShape shape = readArrayShape(n.payload);
    if (shape.columns > 256) return Result::NoExcelForm;
    u8(classed(Ptg::Array, n.tokenClass == Class::Value ? Class::Value : Class::Array));
    // The unused bytes repeat the shape, as Gnumeric writes them and reads them back.
    u8(static_cast<uint8_t>(shape.columns - 1));
    u16(static_cast<uint16_t>(shape.rows - 1));
    zeros(4);
    std::vector<uint8_t>& data = *m_extra;
    auto put16 = [&data](uint32_t v) {
      data.push_back(static_cast<uint8_t>(v));
      data.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put8 = [&data](uint8_t kind, uint8_t first, const uint8_t* bytes8) {
      data.push_back(kind);
      if (bytes8) {
        data.insert(data.end(), bytes8, bytes8 + 8);
        return;
      }
      data.push_back(first);
      data.insert(data.end(), 7, 0);
    };
    // BIFF8 counts less one; BIFF5 the counts themselves, 256 columns as 0.
    const uint32_t less = m_biff8 ? 1 : 0;
    data.push_back(static_cast<uint8_t>(shape.columns - less));
    put16(shape.rows - less);
    const uint8_t* at = n.payload + ArrayHeaderBytes - 1;
    for (size_t i = 0, count = static_cast<size_t>(shape.columns) * shape.rows; i < count; ++i) {
      const uint8_t* p = at + 1;
      switch (static_cast<Op>(at[0])) {
        case Op::Number: put8(0x01, 0, p); break;
        case Op::Logical: put8(0x04, p[0] ? 1 : 0, nullptr); break;
        case Op::ErrorLiteral:
          if (readU16(p) > 0xFF) return Result::NoExcelForm;
          put8(0x10, static_cast<uint8_t>(readU16(p)), nullptr);
          break;
        case Op::String: {
          std::u16string_view text;
          const uint32_t handle = readU32(p);
          if (handle != NoHandle) {
            if (handle >= textPool().slotCount() || !textPool().isLive(handle)) return Result::Malformed;
            text = static_cast<const char16_t*>(textPool().data(handle));
          }
          if (text.size() > MaxExcelString) return Result::NoExcelForm;
          data.push_back(0x02);
          if (m_biff8) {
            put16(static_cast<uint32_t>(text.size()));
            data.push_back(1);  // UTF-16 characters
            for (char16_t c : text) put16(c);
          } else {
            data.push_back(static_cast<uint8_t>(text.size()));
            for (char16_t c : text) {
              bool ok = true;
              data.push_back(charToByte(m_context.codePage, c, ok));
            }
          }
          break;
        }
        default: put8(0x00, 0, nullptr); break;
      }
      at += 1 + payloadSize(at[0]);
    }
    return Result::Written;
  }

  Result error(uint32_t code) {
    if (code > 0xFF) return Result::NoExcelForm;
    u8(Ptg::Err);
    u8(static_cast<uint8_t>(code));
    return Result::Written;
  }

  Result string(uint32_t handle) {
    std::u16string_view text;
    if (handle != NoHandle) {
      if (handle >= textPool().slotCount() || !textPool().isLive(handle)) return Result::Malformed;
      text = static_cast<const char16_t*>(textPool().data(handle));
    }
    if (text.size() > MaxExcelString) return Result::NoExcelForm;
    u8(Ptg::Str);
    u8(static_cast<uint8_t>(text.size()));
    if (m_pocket) {
      for (char16_t c : text) u16(c);
    } else if (m_biff8) {
      u8(1);  // UTF-16 characters
      for (char16_t c : text) u16(c);
    } else {
      // A character the code page lacks becomes "?", as in the other byte-text formats.
      for (char16_t c : text) {
        bool ok = true;
        u8(charToByte(m_context.codePage, c, ok));
      }
    }
    return Result::Written;
  }

  Result constant(const uint8_t* p) {
    CellValue value;
    std::memcpy(&value, p, sizeof value);
    switch (value.kind) {
      case ValueKind::Number: numeric(value.number()); return Result::Written;
      case ValueKind::DateTime: number(value.number()); return Result::Written;
      case ValueKind::Integer: numeric(value.i32()); return Result::Written;
      case ValueKind::Text: return string(value.u32());
      case ValueKind::Logical:
        u8(Ptg::Bool);
        u8(value.u32() ? 1 : 0);
        return Result::Written;
      case ValueKind::Error: return error(value.u32());
      default: return Result::NoExcelForm;
    }
  }

  // One corner as Excel stores it. `offsets` keeps Kelp's relative parts as offsets
  // (names' 3-D references); otherwise they are resolved from the formula's cell.
  struct Corner {
    uint16_t row;
    uint8_t column;
    bool rowRelative;
    bool columnRelative;
  };
  Result corner(CellRefCode stored, bool offsets, Corner& out) const {
    out.rowRelative = (stored.colWord & RefBit::RelativeRow) != 0;
    out.columnRelative = (stored.colWord & RefBit::RelativeColumn) != 0;
    const CellRefCode at = offsets ? CellRefCode{stored.row, static_cast<uint16_t>(stored.colWord & 0xFF)}
                                   : resolveCell(stored, m_base);
    out.row = at.row;
    out.column = static_cast<uint8_t>(at.colWord);
    if (m_biff8) return Result::Written;
    // BIFF5 rows share their word with the two flags.
    if (offsets && out.rowRelative) {
      const int16_t offset = static_cast<int16_t>(out.row);
      if (offset < -Biff5RowLimit / 2 || offset >= Biff5RowLimit / 2) return Result::RowOutOfReach;
      out.row = static_cast<uint16_t>(out.row & Biff5RowMask);
    } else if (out.row >= Biff5RowLimit) {
      return Result::RowOutOfReach;
    }
    return Result::Written;
  }

  uint16_t flags(const Corner& c) const {
    return static_cast<uint16_t>((c.rowRelative ? ExcelRowRelative : 0) | (c.columnRelative ? ExcelColumnRelative : 0));
  }

  // The operand bytes of a cell or area reference (both corners stored in `p`).
  Result referenceBytes(bool area, const uint8_t* p, bool offsets) {
    Corner first, last;
    Result result = corner(readCellRef(p), offsets, first);
    if (result == Result::Written && area) result = corner(readCellRef(p + 4), offsets, last);
    if (result != Result::Written) return result;
    if (!area) {
      if (m_biff8) {
        u16(first.row);
        u16(static_cast<uint16_t>(first.column | flags(first)));
      } else {
        u16(static_cast<uint16_t>(first.row | flags(first)));
        u8(first.column);
      }
    } else if (m_biff8) {
      u16(first.row);
      u16(last.row);
      u16(static_cast<uint16_t>(first.column | flags(first)));
      u16(static_cast<uint16_t>(last.column | flags(last)));
    } else {
      u16(static_cast<uint16_t>(first.row | flags(first)));
      u16(static_cast<uint16_t>(last.row | flags(last)));
      u8(first.column);
      u8(last.column);
    }
    return Result::Written;
  }

  Result reference(const Node& n, bool area, const uint8_t* p, bool offsets) {
    u8(classed(area ? Ptg::Area : Ptg::Ref, n));
    return referenceBytes(area, p, offsets);
  }

  // The position of a span among the EXTERNSHEET entries, appended when new.
  size_t externIndex(ExcelExportContext::SheetSpan span) {
    std::vector<ExcelExportContext::SheetSpan>& list = m_context.externSheets;
    for (size_t index = 0; index < list.size(); ++index)
      if (list[index] == span) return index;
    list.push_back(span);
    return list.size() - 1;
  }

  Result sheetReference(const Node& n, bool area, const uint8_t* p) {
    const ExcelExportContext::SheetSpan span{p[1], p[2], p[3]};
    // Defined names hold their 3-D references as offsets, as the reader takes them.
    const bool offsets = m_kind == ExcelExportKind::Name;
    if (m_pocket) {
      // Pocket Excel names only this workbook's sheets.
      if (span.book != 0) return Result::NoExcelForm;
      u8(classed(area ? Ptg::Area3d : Ptg::Ref3d, n));
      u16(std::min(span.first, span.last));
      u16(std::max(span.first, span.last));
      return referenceBytes(area, p + 4, offsets);
    }
    u8(classed(area ? Ptg::Area3d : Ptg::Ref3d, n));
    if (m_biff8) {
      const size_t index = externIndex(span);
      if (index > UINT16_MAX) return Result::NoExcelForm;
      u16(static_cast<uint16_t>(index));
      return referenceBytes(area, p + 4, offsets);
    }
    int32_t index;
    if (span.book == 0) {
      // This workbook's sheets: the EXTERNSHEET record of the first sheet, counted back.
      index = -(span.first + 1);
    } else {
      // Another workbook's sheets come one by one after this workbook's own records.
      if (span.first != span.last) return Result::NoExcelForm;
      const size_t oneBased = static_cast<size_t>(m_context.sheetCount) + 1 + externIndex(span);
      if (oneBased > static_cast<size_t>(INT16_MAX)) return Result::NoExcelForm;
      index = static_cast<int32_t>(oneBased);
    }
    u16(static_cast<uint16_t>(index));
    zeros(8);
    u16(span.first);
    u16(span.last);
    return referenceBytes(area, p + 4, offsets);
  }

  Result deletedSheetReference(const Node& n, bool area) {
    if (m_pocket) return Result::NoExcelForm;
    u8(classed(area ? Ptg::AreaErr3d : Ptg::RefErr3d, n));
    if (!m_biff8) {
      zeros(area ? 20 : 17);
      return Result::Written;
    }
    const size_t index = externIndex(ExcelExportContext::SheetSpan{0, 0, 0});
    if (index > UINT16_MAX) return Result::NoExcelForm;
    u16(static_cast<uint16_t>(index));
    zeros(area ? 8 : 4);
    return Result::Written;
  }

  Result name(const Node& n, uint16_t index) {
    if (index >= m_context.nameNumbers.size() || m_context.nameNumbers[index] == 0) return Result::NoExcelForm;
    u8(classed(Ptg::Name, n));
    u16(m_context.nameNumbers[index]);
    zeros(m_biff8 || m_pocket ? 2 : 12);
    return Result::Written;
  }

  // The name a call of function 255 begins with: an add-in's EXTERNNAME through the
  // add-in book's EXTERNSHEET entry, or a "_xlfn." NAME after the workbook's own.
  Result functionName(uint16_t index) {
    const ExcelNamedRow* named = excelNamedRow(index);
    if (!named || m_pocket || !noteExcelNamedFunction(m_context, index)) return Result::NoExcelForm;
    const std::vector<uint16_t>& list = named->addIn ? m_context.addInFunctions : m_context.laterFunctions;
    const size_t number = static_cast<size_t>(std::find(list.begin(), list.end(), index) - list.begin()) + 1;
    if (!named->addIn) {
      const size_t nameNumber = m_context.laterNameBase + number;
      if (nameNumber > UINT16_MAX) return Result::NoExcelForm;
      u8(classed(Ptg::Name, Class::Reference));
      u16(static_cast<uint16_t>(nameNumber));
      zeros(m_biff8 ? 2 : 12);
      return Result::Written;
    }
    u8(classed(Ptg::NameX, Class::Reference));
    if (m_biff8) {
      const size_t sheet = externIndex(ExcelExportContext::SheetSpan{0, 0, 0, true});
      if (sheet > UINT16_MAX) return Result::NoExcelForm;
      u16(static_cast<uint16_t>(sheet));
      u16(static_cast<uint16_t>(number));
      zeros(2);
      return Result::Written;
    }
    // Excel 95's add-in record follows this workbook's sheets and the external ones.
    const size_t sheet = static_cast<size_t>(m_context.sheetCount) + m_context.externSheets.size() + 1;
    if (sheet > static_cast<size_t>(INT16_MAX)) return Result::NoExcelForm;
    u16(static_cast<uint16_t>(sheet));
    zeros(8);
    u16(static_cast<uint16_t>(number));
    zeros(12);
    return Result::Written;
  }

  Result namedCall(const Node& n) {
    const ExcelNamedRow* named = excelNamedRow(readU16(n.payload));
    if (!named || m_pocket) return Result::NoExcelForm;
    if (n.childCount < named->row.minArgs || n.childCount > named->row.maxArgs) return Result::NoExcelForm;
    u8(classed(Ptg::FuncVar, n.tokenClass == Class::Array ? Class::Array : Class::Value));
    u8(static_cast<uint8_t>(n.childCount + 1));
    u16(ExcelNamedCall);
    return Result::Written;
  }

  Result function(const Node& n) {
    const int32_t number = excelFunctionNumber(readU16(n.payload));
    if (number < 0) return namedCall(n);
    const ExcelFunctionRow& row = excelFunctionRow(number);
    if (n.childCount < row.minArgs || n.childCount > row.maxArgs) return Result::NoExcelForm;
    // Functions give values; only an array position asks them for an array.
    const uint8_t functionClass = n.tokenClass == Class::Array ? Class::Array : Class::Value;
    if (row.minArgs == row.maxArgs) {
      u8(classed(Ptg::Func, functionClass));
    } else {
      u8(classed(Ptg::FuncVar, functionClass));
      u8(n.childCount);
    }
    u16(static_cast<uint16_t>(number));
    if (n.chooseCall) return patchChoose(n);
    return n.ifWithJumps ? patchIf(n) : Result::Written;
  }

  // The jump table counts from its own start to each choice's first token, its last
  // entry to the call; each goto, as If's, lands one short of the end of the call.
  Result patchChoose(const Node& call) {
    const size_t end = m_out.size();
    const uint32_t* args = &m_children[call.children];
    const Node& index = m_nodes[args[0]];
    const size_t table = index.attrAt + 4;
    auto put = [this](size_t at, size_t value) {
      m_out[at] = static_cast<uint8_t>(value);
      m_out[at + 1] = static_cast<uint8_t>(value >> 8);
    };
    put(index.attrAt + 2, index.choices);
    for (uint8_t i = 1; i < call.childCount; ++i) {
      const Node& choice = m_nodes[args[i]];
      const size_t offset = m_nodes[choice.firstNode].excelAt - table;
      const size_t distance = end - 1 - (choice.attrAt + 4);
      if (offset > UINT16_MAX || distance > UINT16_MAX) return Result::TooLong;
      put(table + 2 * (i - 1u), offset);
      put(choice.attrAt + 2, distance);
    }
    const size_t last = call.excelAt - table;
    if (last > UINT16_MAX) return Result::TooLong;
    put(table + 2u * index.choices, last);
    return Result::Written;
  }

  // Excel counts an If's offset from the end of its ptgAttr to the else branch (to the
  // call when there is none), and a goto's one short of the end of the call.
  Result patchIf(const Node& call) {
    const size_t end = m_out.size();
    const uint32_t* args = &m_children[call.children];
    for (uint8_t i = 0; i < call.childCount; ++i) {
      const Node& arg = m_nodes[args[i]];
      size_t target = end - 1;
      if (i == 0) target = call.childCount == 3 ? m_nodes[m_nodes[args[2]].firstNode].excelAt : call.excelAt;
      const size_t distance = target - (arg.attrAt + 4);
      if (distance > UINT16_MAX) return Result::TooLong;
      m_out[arg.attrAt + 2] = static_cast<uint8_t>(distance);
      m_out[arg.attrAt + 3] = static_cast<uint8_t>(distance >> 8);
    }
    return Result::Written;
  }

  std::vector<uint8_t>* m_extra;
  const uint8_t* m_tokens;
  size_t m_length;
  ExcelExportKind m_kind;
  CellPosition m_base;
  ExcelExportContext& m_context;
  bool m_biff8;
  bool m_pocket;
  std::vector<Node>& m_nodes;
  std::vector<uint32_t>& m_children;  // the children of every node, each node's in a run
  std::vector<uint32_t>& m_stack;     // nodes not yet taken as operands
  std::vector<uint8_t>& m_out;
  std::vector<std::pair<uint32_t, uint32_t>>& m_named;
};

}  // namespace

ExcelExportResult convertToExcelFormula(const uint8_t* tokens, size_t length, CellPosition cell,
                                        ExcelExportKind kind, ExcelExportContext& context,
                                        std::vector<uint8_t>& out, std::vector<uint8_t>* extra) {
  const size_t spans = context.externSheets.size();
  const size_t extraSize = extra ? extra->size() : 0;
  const size_t addIns = context.addInFunctions.size(), later = context.laterFunctions.size();
  thread_local Scratch scratch;
  scratch.clear();
  Exporter exporter(tokens, length, cell, kind, context, scratch, extra);
  const Result result = exporter.run();
  if (result != Result::Written) {
    context.externSheets.resize(spans);
    if (extra) extra->resize(extraSize);
    context.addInFunctions.resize(addIns);
    context.laterFunctions.resize(later);
    return result;
  }
  out.insert(out.end(), exporter.bytes().begin(), exporter.bytes().end());
  return result;
}

}  // namespace kelp
