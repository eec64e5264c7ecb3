#include "LocalSql.h"

#include <cctype>
#include <cstdlib>

namespace engine {

namespace {

struct Token {
  enum Kind { kEnd, kWord, kQuoted, kString, kNumber, kParam, kSymbol };
  Kind kind = kEnd;
  std::string text;
};

Status Syntax(const std::string& what) {
  return Status(DBIERR_QRYSYNTAX, "Invalid SQL statement: " + what);
}
Status Unsupported(const std::string& what) {
  return Status(DBIERR_QRYNOTSUPPORTED, "SQL not supported by the local engine: " + what);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '$';
}

Status Tokenize(const std::string& s, std::vector<Token>* out) {
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '"' || c == '\'') {
      std::size_t end = s.find(c, i + 1);
      if (end == std::string::npos) return Syntax("unterminated quoted text");
      out->push_back({c == '"' ? Token::kQuoted : Token::kString, s.substr(i + 1, end - i - 1)});
      i = end + 1;
    } else if (c == ':') {
      std::size_t j = i + 1;
      while (j < s.size() && IsWordChar(s[j])) ++j;
      if (j == i + 1) return Syntax("a colon without a parameter name");
      out->push_back({Token::kParam, s.substr(i + 1, j - i - 1)});
      i = j;
    } else if (std::isdigit(static_cast<unsigned char>(c)) ||
               (c == '-' && i + 1 < s.size() &&
                std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
      std::size_t j = i + 1;
      while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.')) ++j;
      out->push_back({Token::kNumber, s.substr(i, j - i)});
      i = j;
    } else if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < s.size() && IsWordChar(s[j])) ++j;
      out->push_back({Token::kWord, s.substr(i, j - i)});
      i = j;
    } else if (std::string("(),=<>*;").find(c) != std::string::npos) {
      out->push_back({Token::kSymbol, std::string(1, c)});
      ++i;
    } else {
      return Syntax(std::string("unexpected character '") + c + "'");
    }
  }
  if (!out->empty() && out->back().kind == Token::kSymbol && out->back().text == ";")
    out->pop_back();
  out->push_back({Token::kEnd, ""});
  return Status::OK();
}

// A recursive-descent reader over the token list; every method consumes
// what it accepts and leaves the position on the first token it refuses.
class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

  Status Statement(SqlStatement* st) {
    if (Keyword("SELECT")) {
      st->kind = SqlStatement::kSelect;
      Status s = Column(st);
      if (!s.ok()) return s;
    } else if (Keyword("DELETE")) {
      st->kind = SqlStatement::kDelete;
    } else {
      return Peek().kind == Token::kWord ? Unsupported(Upper(Peek().text) + " statements")
                                         : Syntax("a statement must start with SELECT or DELETE");
    }
    if (!Keyword("FROM")) return Unexpected("FROM");
    if (Peek().kind != Token::kQuoted && Peek().kind != Token::kWord)
      return Syntax("a table name must follow FROM");
    st->table = Next().text;
    if (Keyword("WHERE")) {
      do {
        SqlCondition cond;
        Status s = Condition(&cond);
        if (!s.ok()) return s;
        st->where.push_back(std::move(cond));
      } while (Keyword("AND"));
    }
    if (Peek().kind != Token::kEnd) return Unexpected("the end of the statement");
    return Status::OK();
  }

 private:
  const Token& Peek() const { return t_[pos_]; }
  const Token& Next() { return t_[pos_ < t_.size() - 1 ? pos_++ : pos_]; }
  bool Keyword(const char* word) {
    if (Peek().kind != Token::kWord || Upper(Peek().text) != word) return false;
    ++pos_;
    return true;
  }
  bool Symbol(const char* sym) {
    if (Peek().kind != Token::kSymbol || Peek().text != sym) return false;
    ++pos_;
    return true;
  }
  Status Unexpected(const std::string& wanted) {
    if (Peek().kind == Token::kEnd) return Syntax("expected " + wanted + " at the end");
    std::string word = Upper(Peek().text);
    for (const char* clause : {"OR", "NOT", "ORDER", "GROUP", "HAVING", "JOIN", "UNION", "LIKE",
                               "IN", "BETWEEN", "IS", "DISTINCT", ","})
      if (word == clause) return Unsupported(word);
    return Syntax("expected " + wanted + " before '" + Peek().text + "'");
  }
  bool ColumnName(std::string* name) {
    if (Peek().kind != Token::kWord && Peek().kind != Token::kQuoted) return false;
    *name = Next().text;
    return true;
  }

  Status Column(SqlStatement* st) {
    bool max = Keyword("MAX");
    bool count = !max && Keyword("COUNT");
    if (!max && !count) {
      if (Peek().kind == Token::kWord && Upper(Peek().text) != "FROM" &&
          t_[pos_ + 1].kind == Token::kSymbol && t_[pos_ + 1].text == "(")
        return Unsupported("function " + Upper(Peek().text));
      if (Peek().kind == Token::kSymbol && Peek().text == "*") return Unsupported("SELECT *");
      return ColumnName(&st->column) ? Status::OK() : Syntax("a column must follow SELECT");
    }
    st->aggregate = max ? SqlStatement::kMax : SqlStatement::kCount;
    if (!Symbol("(")) return Unexpected("(");
    if (count && Symbol("*")) {
      st->column = "*";
    } else if (!ColumnName(&st->column)) {
      return Syntax("a column must stand between the brackets");
    }
    return Symbol(")") ? Status::OK() : Unexpected(")");
  }

  Status Condition(SqlCondition* cond) {
    if (!ColumnName(&cond->column)) return Syntax("a condition must start with a column");
    if (Symbol("=")) {
      cond->op = '=';
    } else if (Symbol("<")) {
      cond->op = '<';
    } else if (Symbol(">")) {
      cond->op = '>';
    } else {
      return Unexpected("=, < or >");
    }
    if (Peek().kind == Token::kSymbol && (Peek().text == "=" || Peek().text == ">"))
      return Unsupported("operator " + std::string(1, cond->op) + Peek().text);
    const Token& operand = Next();
    switch (operand.kind) {
      case Token::kParam:
        cond->param = operand.text;
        break;
      case Token::kQuoted:
      case Token::kString:
        cond->literal = SqlValue::Text(operand.text);
        break;
      case Token::kNumber:
        cond->literal = SqlValue::Number(std::strtod(operand.text.c_str(), nullptr));
        break;
      default:
        return Syntax("a value or a :parameter must follow the operator");
    }
    return Status::OK();
  }

  std::vector<Token> t_;
  std::size_t pos_ = 0;
};

Status FindColumn(const SqlRowSource& rows, const std::string& name, std::size_t* index) {
  std::vector<std::string> columns = rows.Columns();
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (Upper(columns[i]) == Upper(name)) {
      *index = i;
      return Status::OK();
    }
  return Status(DBIERR_NOSUCHFIELD, "Field not found: " + name);
}

// -1, 0, 1; false when the two cannot be compared.
bool Compare(const SqlValue& a, const SqlValue& b, int* order) {
  if (a.kind == SqlValue::kText && b.kind == SqlValue::kText) {
    *order = a.text < b.text ? -1 : a.text == b.text ? 0 : 1;
    return true;
  }
  bool an = a.kind == SqlValue::kNumber || a.kind == SqlValue::kDateTime;
  bool bn = b.kind == SqlValue::kNumber || b.kind == SqlValue::kDateTime;
  if (!an || !bn) return false;
  *order = a.number < b.number ? -1 : a.number == b.number ? 0 : 1;
  return true;
}

struct BoundCondition {
  std::size_t column;
  char op;
  SqlValue value;
};

Status Bind(const SqlStatement& st, const SqlRowSource& rows, const SqlParams& params,
            std::vector<BoundCondition>* bound) {
  for (const SqlCondition& c : st.where) {
    BoundCondition b{0, c.op, c.literal};
    Status s = FindColumn(rows, c.column, &b.column);
    if (!s.ok()) return s;
    if (!c.param.empty()) {
      auto it = params.find(c.param);
      if (it == params.end()) it = params.find(Upper(c.param));
      if (it == params.end())
        return Status(DBIERR_QRYPARAM, "Parameter without a value: :" + c.param);
      b.value = it->second;
    }
    bound->push_back(std::move(b));
  }
  return Status::OK();
}

}  // namespace

Status ParseSql(const std::string& text, SqlStatement* out) {
  std::vector<Token> tokens;
  Status s = Tokenize(text, &tokens);
  if (!s.ok()) return s;
  *out = SqlStatement();
  return Parser(std::move(tokens)).Statement(out);
}

std::vector<std::string> SqlParamNames(const SqlStatement& statement) {
  std::vector<std::string> names;
  for (const SqlCondition& c : statement.where)
    if (!c.param.empty()) names.push_back(c.param);
  return names;
}

Status MatchRows(const SqlStatement& st, const SqlRowSource& rows, const SqlParams& params,
                 std::vector<std::size_t>* matched) {
  std::vector<BoundCondition> bound;
  Status s = Bind(st, rows, params, &bound);
  if (!s.ok()) return s;
  matched->clear();
  for (std::size_t r = 0; r < rows.RowCount(); ++r) {
    bool keep = true;
    for (const BoundCondition& c : bound) {
      SqlValue v = rows.Value(r, c.column);
      int order = 0;
      if (v.isNull() || c.value.isNull()) {
        keep = false;
      } else if (!Compare(v, c.value, &order)) {
        return Status(DBIERR_QRYSYNTAX,
                      "Type mismatch in a condition on " + rows.Columns()[c.column]);
      } else {
        keep = c.op == '=' ? order == 0 : c.op == '<' ? order < 0 : order > 0;
      }
      if (!keep) break;
    }
    if (keep) matched->push_back(r);
  }
  return Status::OK();
}

Status RunSelect(const SqlStatement& st, const SqlRowSource& rows, const SqlParams& params,
                 std::vector<SqlValue>* result) {
  if (st.kind != SqlStatement::kSelect) return Status::InvalidParam("Not a SELECT statement");
  std::size_t column = 0;
  if (st.column != "*") {
    Status s = FindColumn(rows, st.column, &column);
    if (!s.ok()) return s;
  }
  std::vector<std::size_t> matched;
  Status s = MatchRows(st, rows, params, &matched);
  if (!s.ok()) return s;
  result->clear();
  if (st.aggregate == SqlStatement::kNone) {
    for (std::size_t r : matched) result->push_back(rows.Value(r, column));
    return Status::OK();
  }
  SqlValue best;
  std::size_t count = 0;
  for (std::size_t r : matched) {
    if (st.column == "*") {
      ++count;
      continue;
    }
    SqlValue v = rows.Value(r, column);
    if (v.isNull()) continue;
    ++count;
    int order = 0;
    if (best.isNull() || (Compare(v, best, &order) && order > 0)) best = v;
  }
  result->push_back(
      st.aggregate == SqlStatement::kCount ? SqlValue::Number(static_cast<double>(count)) : best);
  return Status::OK();
}

}  // namespace engine
