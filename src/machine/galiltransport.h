// The controller link as the channel sees it: the stand-in of the vendor's automation object.
#pragma once

#include <string>
#include <string_view>

namespace lapido {

// Outcome of one command: the controller's reply text, or a failure with its reason. A
// rejected command ('?'), a time-out and a lost link are all failures; the caller decides
// what an empty reply means.
struct GalilReply {
    bool ok = false;
    std::string text;  // the reply (trimmed when asked to), empty on failure
    std::string error; // why it failed, for the log ("COMMAND ERROR", "TIMEOUT", ...)
};

// One link to a motion controller. Implementations: the in-process simulator (address
// "sim") and TCP to a real controller ("host" or "host:port"); a dispatching transport picks
// one from the address. A transport is used by one thread at a time: the channel above it
// serialises every command and reply pair.
class GalilTransport {
public:
    virtual ~GalilTransport() = default;

    // The address to connect to. An empty address means the transport's default, which
    // address() then reports.
    virtual std::string address() const = 0;
    virtual void setAddress(std::string_view address) = 0;

    // Binds to the controller at address(). False when it cannot be reached.
    virtual bool connect() = 0;
    virtual void disconnect() = 0;
    // Description of the live link; it contains the address text while connected and is
    // empty otherwise.
    virtual std::string connection() const = 0;

    // Sends text followed by terminator and waits for the controller's acknowledgement(s).
    // The controller ends every line with a carriage return, whatever terminator the caller
    // names, and ack is accepted for interface compatibility only. With trim the trailing
    // ':', '\r', '\n' and the leading blanks are removed from the reply.
    virtual GalilReply command(std::string_view text, std::string_view terminator = "\r\n",
                               std::string_view ack = "", bool trim = true) = 0;

    // True when the controller runs apart from this process (a device on the network) and so
    // outlives the station: the station then arms the controller's own watchdog over the
    // laser lines. A simulator inside the program dies with it.
    virtual bool isRemote() const { return false; }
};

// Helpers shared by the transports (header-only so that the simulator can use them).
namespace galil {

// Removes trailing ':', '\r', '\n' and leading blanks, as the vendor library trims a reply.
inline std::string trimReply(std::string_view raw)
{
    std::size_t end = raw.size();
    while (end > 0 && (raw[end - 1] == ':' || raw[end - 1] == '\r' || raw[end - 1] == '\n'))
        --end;
    std::size_t begin = 0;
    while (begin < end && raw[begin] == ' ')
        ++begin;
    return std::string(raw.substr(begin, end - begin));
}

// A program download: "DL", a carriage return, the program's lines (each ended by a carriage
// return) and a backslash that ends the download. The controller stores the lines without
// running them and acknowledges the whole download once.
inline bool isDownload(std::string_view text)
{
    return text.size() >= 3 && text.substr(0, 3) == "DL\r";
}

// How many acknowledgements a command line produces: one per ';'-separated command (a program
// download, one). Quoted text (an MG string) may hold ';' without starting a new command.
inline int commandsInLine(std::string_view line)
{
    if (isDownload(line))
        return 1;
    int n = 1;
    bool quoted = false;
    for (char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            ++n;
    }
    return n;
}

// Counts the acknowledgements of a reply as its bytes arrive. A ':' or '?' ends one command's
// answer only where an answer can begin (first byte, after an acknowledgement, after a line
// end); inside the text of an answer it is data.
struct AckScanner {
    int acks = 0;
    bool refused = false;
    bool atStart = true;

    void feed(char c)
    {
        if (atStart && (c == ':' || c == '?')) {
            ++acks;
            refused = refused || c == '?';
        } else if (c == '\n') {
            atStart = true;
        } else if (c != '\r') {
            atStart = false;
        }
    }
    void feed(std::string_view bytes)
    {
        for (char c : bytes)
            feed(c);
    }
};

} // namespace galil

} // namespace lapido
