// Resolving a relative URL against its base (RFC 3986, section 5.2), for
// NSURL objects archived with a base.
#include "bplist/Url.h"

#include <string>
#include <string_view>

namespace bplist {

namespace {

// A URL's five components; `has*` tells an empty component from a missing one.
struct UrlParts {
  std::string_view scheme, authority, path, query, fragment;
  bool hasScheme = false, hasAuthority = false, hasQuery = false, hasFragment = false;
};

bool IsSchemeChar(char ch, bool first) {
  bool alpha = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
  return alpha || (!first && ((ch >= '0' && ch <= '9') || ch == '+' || ch == '-' || ch == '.'));
}

UrlParts Split(std::string_view url) {
  UrlParts u;
  size_t colon = url.find(':');
  if (colon != std::string_view::npos && colon > 0) {
    bool scheme = true;
    for (size_t i = 0; i < colon; ++i) scheme = scheme && IsSchemeChar(url[i], i == 0);
    if (scheme) {
      u.hasScheme = true;
      u.scheme = url.substr(0, colon);
      url.remove_prefix(colon + 1);
    }
  }
  size_t hash = url.find('#');
  if (hash != std::string_view::npos) {
    u.hasFragment = true;
    u.fragment = url.substr(hash + 1);
    url = url.substr(0, hash);
  }
  size_t question = url.find('?');
  if (question != std::string_view::npos) {
    u.hasQuery = true;
    u.query = url.substr(question + 1);
    url = url.substr(0, question);
  }
  if (url.substr(0, 2) == "//") {
    u.hasAuthority = true;
    size_t slash = url.find('/', 2);
    u.authority = url.substr(2, slash == std::string_view::npos ? url.size() - 2 : slash - 2);
    url.remove_prefix(2 + u.authority.size());
  }
  u.path = url;
  return u;
}

// Removes "." and ".." segments from a path (section 5.2.4).
std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  while (!in.empty()) {
    if (in.substr(0, 3) == "../") {
      in.remove_prefix(3);
    } else if (in.substr(0, 2) == "./") {
      in.remove_prefix(2);
    } else if (in.substr(0, 3) == "/./") {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.substr(0, 4) == "/../" || in == "/..") {
      in = in.size() == 3 ? std::string_view("/") : in.substr(3);
      size_t last = out.rfind('/');
      out.erase(last == std::string::npos ? 0 : last);
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      if (next == std::string_view::npos) next = in.size();
      out.append(in.substr(0, next));
      in.remove_prefix(next);
    }
  }
  return out;
}

}  // namespace

std::string ResolveUrl(std::string_view base, std::string_view reference) {
  UrlParts b = Split(base), r = Split(reference);
  UrlParts t;
  std::string path;
  if (r.hasScheme) {
    t = r;
    path = RemoveDotSegments(r.path);
  } else {
    t.hasScheme = b.hasScheme;
    t.scheme = b.scheme;
    if (r.hasAuthority) {
      t.hasAuthority = true;
      t.authority = r.authority;
      path = RemoveDotSegments(r.path);
      t.hasQuery = r.hasQuery;
      t.query = r.query;
    } else {
      t.hasAuthority = b.hasAuthority;
      t.authority = b.authority;
      if (r.path.empty()) {
        path = std::string(b.path);
        t.hasQuery = r.hasQuery || b.hasQuery;
        t.query = r.hasQuery ? r.query : b.query;
      } else {
        if (r.path[0] == '/') {
          path = RemoveDotSegments(r.path);
        } else if (b.hasAuthority && b.path.empty()) {
          path = RemoveDotSegments("/" + std::string(r.path));
        } else {
          size_t slash = b.path.rfind('/');
          std::string merged(slash == std::string_view::npos ? "" : b.path.substr(0, slash + 1));
          path = RemoveDotSegments(merged + std::string(r.path));
        }
        t.hasQuery = r.hasQuery;
        t.query = r.query;
      }
    }
    t.hasFragment = r.hasFragment;
    t.fragment = r.fragment;
  }
  std::string out;
  if (t.hasScheme) out.append(t.scheme).append(":");
  if (t.hasAuthority) out.append("//").append(t.authority);
  out += path;
  if (t.hasQuery) out.append("?").append(t.query);
  if (t.hasFragment) out.append("#").append(t.fragment);
  return out;
}

}  // namespace bplist
