// tarvex --deadletters [N] and tarvex --redrive ID... | --redrive --all [--dry-run]:
// the operator's view of tarvex:deadletter and the way back out of it.
//
// --deadletters lists the newest N (default kDeadLettersShown) entries, newest
// first: id, time set aside, status, the first kReplyBytesShown bytes of the reply
// (control bytes shown as blanks) and the "guid" of each record of the text. It
// reads through the read connection and writes nothing.
//
// --redrive moves entries back to tarvex:capture as new entries, each with one call
// of kRedriveScript on a master (add, then delete: an entry is never in both
// streams nor in neither), and prints each id moved and how many moved. --all moves
// every entry that was there when it began (texts set aside again meanwhile wait
// for the next --redrive). --dry-run prints what would move and changes nothing.
// A redriven text skips the capture script, so no "seen" marker stops it.
//
// Both return the exit status: 1 when durable delivery is off (one line says so),
// when the arguments are wrong (usage on stderr) or when no Redis node answers;
// otherwise 0, also when an id names no dead letter (a line says so).
#ifndef TARVEX_OPERATOR_DEAD_LETTERS_COMMAND_H_
#define TARVEX_OPERATOR_DEAD_LETTERS_COMMAND_H_

#include <cstddef>
#include <cstdio>

constexpr long kDeadLettersShown = 20;       // default N of --deadletters
constexpr long kDeadLettersMostShown = 100000;  // largest N taken
constexpr std::size_t kReplyBytesShown = 200;   // reply bytes shown per entry
constexpr std::size_t kGuidsShown = 10;         // guids shown per entry, then "+N more"
constexpr int kRedrivePage = 10;                // entries read per XRANGE of --all

// Moves the dead letter KEYS[2] ARGV[1] to the stream KEYS[1] (MAXLEN ~ ARGV[2]) as
// a new entry with its text. Returns the new id, or nil when there is no such
// dead letter. Every check comes before the add, and nothing that can fail comes
// between the add and the delete.
constexpr const char* kRedriveScript =
    "local e = redis.call('XRANGE', KEYS[2], ARGV[1], ARGV[1])\n"
    "if #e == 0 then return false end\n"
    "local f, text = e[1][2], nil\n"
    "for i = 1, #f, 2 do\n"
    "  if f[i] == 'text' then text = f[i + 1] end\n"
    "end\n"
    "if not text then return redis.error_reply('ERR dead letter without a text') end\n"
    "if redis.acl_check_cmd and not redis.acl_check_cmd('XDEL', KEYS[2], ARGV[1]) then\n"
    "  return redis.error_reply('NOPERM this user may not XDEL ' .. KEYS[2])\n"
    "end\n"
    "local id = redis.call('XADD', KEYS[1], 'MAXLEN', '~', ARGV[2], '*', 'text', text)\n"
    "redis.call('XDEL', KEYS[2], ARGV[1])\n"
    "return id\n";

// argv[1] is "--deadletters" or "--redrive"; argc counts every argument.
int runDeadLetters(std::FILE* out, int argc, char** argv);
int runRedrive(std::FILE* out, int argc, char** argv);

#endif  // TARVEX_OPERATOR_DEAD_LETTERS_COMMAND_H_
