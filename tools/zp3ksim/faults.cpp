// Parsing and lookup of the simulated controller's fault specifications.
#include "faults.h"

#include <cstdlib>

namespace zp3ksim {

namespace {

bool parse_number(const std::string& text, int* out) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  *out = std::atoi(text.c_str());
  return true;
}

struct KindName {
  char name[8];
  FaultKind kind;
  int default_number;
};
const KindName KINDS[] = {
    {"nak", FaultKind::NAK, 0},        {"silent", FaultKind::SILENT, 0},
    {"badbcc", FaultKind::BAD_BCC, 0}, {"lower", FaultKind::LOWER, 0},
    {"split", FaultKind::SPLIT, 4000}, {"slow", FaultKind::SLOW, 100},
    {"long", FaultKind::LONG, 600},    {"other", FaultKind::OTHER_MODE, 0},
    {"model", FaultKind::MODEL, 0},    {"noise", FaultKind::NOISE, 0},
    {"vanish", FaultKind::VANISH, 0},
};
const char REQUESTS[][6] = {"AD", "AA", "AB", "EF", "FG", "FD", "FDEND", "AG", "RUN"};

// The kind and its default argument, and the request it applies to.
bool name_fault(const std::string& kind, const std::string& request, Fault* f, std::string* error) {
  bool known_kind = false;
  for (const KindName& k : KINDS) {
    if (kind == k.name) {
      f->kind = k.kind;
      f->number = k.default_number;
      known_kind = true;
    }
  }
  if (!known_kind) {
    *error = "unknown fault kind '" + kind + "'";
    return false;
  }
  bool known_request = false;
  for (const char* r : REQUESTS) known_request = known_request || request == r;
  if (!known_request) {
    *error = "unknown request '" + request + "'";
    return false;
  }
  f->request = request;
  return true;
}

// "*", "N" or "N-M" into first..last.
bool parse_occurrences(const std::string& occurrences, Fault* f, std::string* error) {
  if (occurrences == "*") {
    f->first = 1;
    f->last = 1 << 30;
  } else if (const std::size_t dash = occurrences.find('-'); dash != std::string::npos) {
    if (!parse_number(occurrences.substr(0, dash), &f->first) ||
        !parse_number(occurrences.substr(dash + 1), &f->last) || f->first < 1 || f->last < f->first) {
      *error = "bad occurrence range '" + occurrences + "'";
      return false;
    }
  } else {
    if (!parse_number(occurrences, &f->first) || f->first < 1) {
      *error = "bad occurrence '" + occurrences + "'";
      return false;
    }
    f->last = f->first;
  }
  return true;
}

// The argument as the kind takes it, and the kinds bound to one request.
bool parse_argument(const std::string& arg, Fault* f, std::string* error) {
  if (f->kind == FaultKind::MODEL) {
    if (f->request != "AD" || arg.size() != 2) {
      *error = "model takes AD and two characters, e.g. model@AD#1,10";
      return false;
    }
    f->text = arg;
  } else if (f->kind == FaultKind::OTHER_MODE && f->request != "AB") {
    *error = "other applies to AB only";
    return false;
  } else if (!arg.empty()) {
    if (f->kind != FaultKind::SPLIT && f->kind != FaultKind::SLOW && f->kind != FaultKind::LONG) {
      *error = "this fault takes no argument";
      return false;
    }
    if (!parse_number(arg, &f->number)) {
      *error = "bad number '" + arg + "'";
      return false;
    }
  }
  return true;
}

// "K:" in front of the kind: the board the fault is bound to.
bool parse_board(const std::string& kind, std::size_t* kind_start, Fault* f, std::string* error) {
  const std::size_t colon = kind.find(':');
  if (colon == std::string::npos) return true;
  if (!parse_number(kind.substr(0, colon), &f->board) || f->board < 1) {
    *error = "bad board '" + kind.substr(0, colon) + "' (BOARD:KIND@REQUEST, boards from 1)";
    return false;
  }
  *kind_start = colon + 1;
  return true;
}

}  // namespace

bool parse_fault(const std::string& given, Fault* out, std::string* error) {
  const std::size_t at = given.find('@');
  if (at == std::string::npos) {
    *error = "expected KIND@REQUEST";
    return false;
  }
  std::size_t kind_start = 0;
  Fault f{};
  if (!parse_board(given.substr(0, at), &kind_start, &f, error)) return false;
  std::string rest = given.substr(at + 1);
  std::string arg;
  if (const std::size_t comma = rest.find(','); comma != std::string::npos) {
    arg = rest.substr(comma + 1);
    rest = rest.substr(0, comma);
  }
  std::string occurrences = "*";
  if (const std::size_t hash = rest.find('#'); hash != std::string::npos) {
    occurrences = rest.substr(hash + 1);
    rest = rest.substr(0, hash);
  }
  f.given = given;
  if (!name_fault(given.substr(kind_start, at - kind_start), rest, &f, error) ||
      !parse_occurrences(occurrences, &f, error) || !parse_argument(arg, &f, error)) {
    return false;
  }
  *out = f;
  return true;
}

const Fault* find_fault(const std::vector<Fault>& faults, const std::string& request, int n) {
  return find_fault(faults, request, n, 0, 0);
}

const Fault* find_fault(const std::vector<Fault>& faults, const std::string& request, int n,
                        int board, int board_n) {
  for (const Fault& f : faults) {
    const int occurrence = f.board == 0 ? n : f.board == board ? board_n : 0;
    if (f.request == request && occurrence >= f.first && occurrence <= f.last) return &f;
  }
  return nullptr;
}

}  // namespace zp3ksim
