#pragma once
// The search for the article where a group crosses a moment in time, asked
// one article at a time. It does no input or output of its own: its driver
// sends the HEAD of NextProbe(), reports what came back with Observe(), and
// goes on until Done().
//
// The result is an article b that the server has, with Date(b) <= target,
// where the next article the server has after b is dated after the target.
// When every article is newer than the target the result is the lowest
// article the server has; when every one is older, the highest.
#include <QtGlobal>
#include <optional>

class FastArticleSearch
{
  public:
    // low..high: the group's article numbers as GROUP gave them (low <= high).
    // target: the moment sought, in seconds since 1970 UTC.
    FastArticleSearch(qint64 low, qint64 high, qint64 target);

    // The article to ask for next; nothing once Done().
    std::optional<qint64> NextProbe() const;
    // What the server said of an article asked for: its posting time in
    // seconds since 1970 UTC, or nothing when it lacks the article (423) or
    // its date cannot be read.
    void Observe(qint64 number, std::optional<qint64> posted);

    bool Done() const;
    // Meaningful once Done(); 0 when the server has none of the articles.
    qint64 Result() const;
    // The requests asked for so far.
    int Probes() const;

  private:
    struct State;
    // Filled in by the search's implementation.
};
