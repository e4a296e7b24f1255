// KVSTORE, the keyed value store, and KVAL, its entry.
//
// A store keeps named, typed values, one entry per name. Every value is held as
// text; the entry's type says how that text converts into the program variable
// the entry may be bound to, which the store rewrites whenever the value
// changes. Names are compared without regard to case and found through a small
// hash table; the entries also keep their registration order, which the
// command-line parser and the usage printer walk by index. Removed entries are
// kept on a free list and reused, the most recently removed first.
//
// The store reports every failure through its message source at the error level,
// and owns its entries and every text in them (taken through kv_alloc). Bound
// variables and default texts belong to the caller. A text variable must be large
// enough for every value it can receive: values from the command line are at
// most 1022 characters.
#pragma once

#include "telemetry/check.h"
#include "h2mon/common/cmdline.h"
#include "h2mon/common/convert.h"
#include "h2mon/common/kvmem.h"
#include "h2mon/common/src.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

// Registration flags (dwFlags).
constexpr std::uint32_t KVF_NODUP = 0x01;    // skip the test for an entry of the same name
constexpr std::uint32_t KVF_READONLY = 0x04; // update refuses to change the value
constexpr std::uint32_t KVF_REQUIRED = 0x08; // must be given on the command line
constexpr std::uint32_t KVF_ONEOF = 0x10;    // exactly one member of the group must be given

// Value types (nType): what the value text converts into.
constexpr std::uint32_t KVT_OBJECT = 1; // pVar itself; the object is owned by the entry
constexpr std::uint32_t KVT_STRING = 2; // char buffer
constexpr std::uint32_t KVT_INT = 3;    // int, "%d"
constexpr std::uint32_t KVT_HEX = 4;    // 32-bit unsigned, "0x%X"
constexpr std::uint32_t KVT_DOUBLE = 5; // double, parsedouble
constexpr std::uint32_t KVT_INT64 = 6;  // 64-bit signed decimal
constexpr std::uint32_t KVT_BOOL = 7;   // bool, parsebool

// Bit of dwUser that the parser sets when the option is given.
constexpr std::uint32_t KVU_GIVEN = 0x100;

constexpr int kKvBuckets = 31;

// The bucket of a name: the upper-case forms of its first two bytes (the second
// being the terminating zero of a one-character name) exclusive-or'ed, modulo
// the bucket count; 0 for the empty name. Only a to z are upper-cased.
unsigned kv_bucket(const char* name);

struct KVAL {
    std::uint32_t nBucket = 0;
    KVAL* pHashNext = nullptr;
    KVAL* pHashPrev = nullptr;
    KVAL* pNext = nullptr; // in the registration list or the free list
    KVAL* pPrev = nullptr;
    std::int32_t bInUse = 0;
    char* pszName = nullptr;
    char* pszValue = nullptr; // null before the first value, after a failed setter, when free
    std::uint32_t dwFlags = 0;
    std::uint32_t nType = 0;
    std::uint32_t dwUser = 0;
    // The bound variable, or null. For KVT_OBJECT the owned object, held as the
    // address of its SRC part so that teardown can delete it.
    void* pVar = nullptr;

    // Each setter replaces the value text and then writes the bound variable;
    // false (the value text left null) when the text cannot be allocated. The
    // object of a KVT_OBJECT entry is never written over.
    bool setbool(bool value);
    bool setnum(int value);
    bool setstr(const char* text); // null stores the empty text
    // Converts the value text into destination by type; nothing for null.
    void getvalue(void* destination) const;
    // The value text; the empty text while there is none.
    const char* value() const;
    // True when the entry's name equals name without regard to case.
    bool named(const char* name) const;
    // Frees the name and value texts.
    void release_texts();

private:
    bool take_value(char* text);
};

// An entry list: registration order, or the free list.
template <class T> struct KVLIST {
    T* pHead = nullptr;
    T* pTail = nullptr;
    std::int32_t nCount = 0;

    void append(T* entry) {
        entry->pNext = nullptr;
        entry->pPrev = pTail;
        if (pTail != nullptr) {
            pTail->pNext = entry;
        } else {
            pHead = entry;
        }
        pTail = entry;
        ++nCount;
    }

    void unlink(T* entry) {
        (entry->pPrev != nullptr ? entry->pPrev->pNext : pHead) = entry->pNext;
        (entry->pNext != nullptr ? entry->pNext->pPrev : pTail) = entry->pPrev;
        entry->pNext = nullptr;
        entry->pPrev = nullptr;
        --nCount;
    }
};

template <class T> class KVSTORE : public virtual SRC {
public:
    KVSTORE();
    ~KVSTORE() override;
    KVSTORE(const KVSTORE&) = delete;
    KVSTORE& operator=(const KVSTORE&) = delete;

    // Registration: a new entry of the name, bound to variable (may be null),
    // with the user word and flags. Its first value is the default text when one
    // is given (the variable is then rewritten from it), otherwise the variable's
    // current value. Null after a diagnostic: the name is present already (unless
    // KVF_NODUP), or memory ran out (an entry whose value could not be stored
    // stays registered without one). A null name stops the program.
    T* addbool(const char* name, bool* variable, const char* defaulttext, int user, int flags);
    T* addnum(const char* name, int* variable, const char* defaulttext, int user, int flags);
    T* addstr(const char* name, char* variable, const char* defaulttext, int user, int flags);

    // The newest entry of that name, or null.
    T* find(const char* name) const;
    // True when the entry exists and was given on the command line.
    bool given(const char* name) const;
    // Replaces the entry's value by text (and rewrites its variable). Sets
    // *changed (when not null) if the text differs from the old value, case
    // counting; never clears it. False after a diagnostic: read-only entry, or
    // out of memory.
    bool update(T* entry, const char* text, bool* changed);

    int size() const { return lstEntries.nCount; }
    // Entry number index in registration order, or null outside 0 .. size() - 1.
    // Ascending walks cost one step per call through an index cache.
    T* at(int index);
    // Unregisters an entry and keeps it for reuse; the bound variable keeps its
    // last value. Nothing happens for null or an entry already removed.
    void remove(T* entry);
    void removeall();
    // removeall, then forget the last error text.
    void clear();

    // Checks a command line against the registered options (see the definition).
    // argv[0] is not examined. False when help was requested or after a
    // diagnostic; values stored before a failure stay.
    bool parse(int argc, const char* const* argv, const char* usagetext, int maxpositional,
               int minpositional, bool wildcards);
    // Prints text at the usage level with each "$" replaced by an option's
    // current value, after a line feed when leadingnewline. Nothing for null.
    void usage(const char* text, bool leadingnewline);

    T* apBucket[kKvBuckets];
    KVLIST<T> lstEntries;
    KVLIST<T> lstFree;
    std::int32_t nCursor; // index of pCursor in lstEntries, -1 when the cache is empty
    T* pCursor;

private:
    struct Expansion {
        KVSTORE* store;
        const char* usagetext;
        int maxpositional;
        int* next;
        int added;
    };

    void empty_cursor();
    T* obtain_entry();
    T* create(const char* name);
    T* begin_add(const char* operation, const char* name, std::uint32_t type, void* variable,
                 int user, int flags);
    T* finish_add(const char* operation, const char* name, T* entry, bool value_stored);
    void destroy_free_entries();

    bool parse_option(const char* argument, const char* usagetext);
    bool parse_positional(const char* argument, const char* usagetext, int maxpositional,
                          bool wildcards, int& next);
    bool add_positional(const char* value, int& next);
    bool expand_wildcard(const char* argument, const char* usagetext, int maxpositional, int& next);
    bool check_oneof_group(const char* usagetext);
    bool check_required(const char* usagetext);
    bool check_min_positional(const char* usagetext, int minpositional, int next);

    static bool add_match(void* expansion, const char* path);
    static const char* value_of(const void* store, const char* name);
};

// Levels of the store's messages.
constexpr int kKvUsageLevel = kSrcDefaultLevel;
constexpr int kKvErrorLevel = kSrcErrorLevel;

template <class T>
KVSTORE<T>::KVSTORE()
    : SRC("", kSrcDefaultLevel), apBucket{}, lstEntries(), lstFree(), nCursor(-1),
      pCursor(nullptr) {
    clear();
}

// Owned objects go first, while their entries are still registered; then every
// entry is removed and the free list released.
template <class T> KVSTORE<T>::~KVSTORE() {
    for (int index = 0; index < size(); ++index) {
        T* entry = at(index);
        if (entry->nType == KVT_OBJECT && entry->pVar != nullptr) {
            delete static_cast<SRC*>(entry->pVar);
            entry->pVar = nullptr;
        }
    }
    removeall();
    destroy_free_entries();
}

template <class T> void KVSTORE<T>::destroy_free_entries() {
    while (T* entry = lstFree.pTail) {
        lstFree.unlink(entry);
        entry->~T();
        kv_free(entry);
    }
}

template <class T> void KVSTORE<T>::empty_cursor() {
    nCursor = -1;
    pCursor = nullptr;
}

// The most recently removed entry, or a new one; linked nowhere yet.
template <class T> T* KVSTORE<T>::obtain_entry() {
    if (T* reused = lstFree.pTail) {
        lstFree.unlink(reused);
        return reused;
    }
    void* block = kv_alloc(sizeof(T));
    return block != nullptr ? new (block) T() : nullptr;
}

template <class T> T* KVSTORE<T>::create(const char* name) {
    const char* V = name;
    H2_ASSERT(V != NULL);
    empty_cursor();
    T* entry = obtain_entry();
    if (entry == nullptr) {
        return nullptr;
    }
    entry->pszName = kv_strdup(name);
    if (entry->pszName == nullptr) {
        lstFree.append(entry); // still a free entry: no name, no value, no bucket
        return nullptr;
    }
    lstEntries.append(entry);
    entry->nBucket = kv_bucket(name);
    entry->pHashPrev = nullptr;
    entry->pHashNext = apBucket[entry->nBucket];
    if (entry->pHashNext != nullptr) {
        entry->pHashNext->pHashPrev = entry;
    }
    apBucket[entry->nBucket] = entry;
    entry->bInUse = 1;
    entry->pszValue = nullptr;
    entry->pVar = nullptr;
    entry->dwUser = 0;
    entry->dwFlags = 0;
    entry->nType = 0;
    return entry;
}

template <class T>
T* KVSTORE<T>::begin_add(const char* operation, const char* name, std::uint32_t type,
                         void* variable, int user, int flags) {
    if ((flags & KVF_NODUP) == 0 && find(name) != nullptr) {
        message(kKvErrorLevel, "KVAL error: %s(%s) already present", operation, name);
        return nullptr;
    }
    T* entry = create(name);
    if (entry == nullptr) {
        message(kKvErrorLevel, "KVAL error: %s(%s) out of memory", operation, name);
        return nullptr;
    }
    entry->nType = type;
    entry->dwFlags = static_cast<std::uint32_t>(flags);
    entry->dwUser = static_cast<std::uint32_t>(user);
    entry->pVar = variable;
    return entry;
}

template <class T>
T* KVSTORE<T>::finish_add(const char* operation, const char* name, T* entry, bool value_stored) {
    if (!value_stored) {
        message(kKvErrorLevel, "KVAL error: %s(%s) out of memory", operation, name);
        return nullptr;
    }
    return entry;
}

// Without a default text or a variable a flag starts off (false).
template <class T>
T* KVSTORE<T>::addbool(const char* name, bool* variable, const char* defaulttext, int user,
                       int flags) {
    T* entry = begin_add("addbool", name, KVT_BOOL, variable, user, flags);
    if (entry == nullptr) {
        return nullptr;
    }
    const bool initial = defaulttext != nullptr ? parsebool(defaulttext)
                         : variable != nullptr  ? *variable
                                                : false;
    return finish_add("addbool", name, entry, entry->setbool(initial));
}

template <class T>
T* KVSTORE<T>::addnum(const char* name, int* variable, const char* defaulttext, int user,
                      int flags) {
    T* entry = begin_add("addnum", name, KVT_INT, variable, user, flags);
    if (entry == nullptr) {
        return nullptr;
    }
    const bool stored = (defaulttext != nullptr || variable == nullptr) ? entry->setstr(defaulttext)
                                                                        : entry->setnum(*variable);
    return finish_add("addnum", name, entry, stored);
}

template <class T>
T* KVSTORE<T>::addstr(const char* name, char* variable, const char* defaulttext, int user,
                      int flags) {
    T* entry = begin_add("addstr", name, KVT_STRING, variable, user, flags);
    if (entry == nullptr) {
        return nullptr;
    }
    const char* initial = defaulttext != nullptr ? defaulttext : variable;
    return finish_add("addstr", name, entry, entry->setstr(initial));
}

template <class T> T* KVSTORE<T>::find(const char* name) const {
    if (name == nullptr) {
        return nullptr;
    }
    for (T* entry = apBucket[kv_bucket(name)]; entry != nullptr; entry = entry->pHashNext) {
        if (entry->named(name)) {
            return entry;
        }
    }
    return nullptr;
}

template <class T> bool KVSTORE<T>::given(const char* name) const {
    const T* entry = find(name);
    return entry != nullptr && (entry->dwUser & KVU_GIVEN) != 0;
}

template <class T> bool KVSTORE<T>::update(T* entry, const char* text, bool* changed) {
    if ((entry->dwFlags & KVF_READONLY) != 0) {
        message(kKvErrorLevel, "KVAL error: can't update read-only value %s", entry->pszName);
        return false;
    }
    if (changed != nullptr && std::strcmp(text != nullptr ? text : "", entry->value()) != 0) {
        *changed = true;
    }
    if (!entry->setstr(text)) {
        message(kKvErrorLevel, "KVAL error: update() out of memory, key %s", entry->pszName);
        return false;
    }
    return true;
}

template <class T> T* KVSTORE<T>::at(int index) {
    if (index == nCursor) {
        T* entry = pCursor;
        if (entry == nullptr) {
            nCursor = -1;
            return nullptr;
        }
        ++nCursor;
        pCursor = entry->pNext;
        return entry;
    }
    if (index < 0 || index >= size()) {
        empty_cursor();
        return nullptr;
    }
    T* entry = lstEntries.pHead;
    for (int step = 0; step < index; ++step) {
        entry = entry->pNext;
    }
    nCursor = index + 1;
    pCursor = entry->pNext;
    return entry;
}

template <class T> void KVSTORE<T>::remove(T* entry) {
    if (entry == nullptr || entry->bInUse == 0) {
        return;
    }
    empty_cursor();
    entry->release_texts();
    entry->bInUse = 0;
    (entry->pHashPrev != nullptr ? entry->pHashPrev->pHashNext : apBucket[entry->nBucket]) =
        entry->pHashNext;
    if (entry->pHashNext != nullptr) {
        entry->pHashNext->pHashPrev = entry->pHashPrev;
    }
    entry->pHashNext = nullptr;
    entry->pHashPrev = nullptr;
    lstEntries.unlink(entry);
    lstFree.append(entry);
}

template <class T> void KVSTORE<T>::removeall() {
    empty_cursor();
    while (lstEntries.pTail != nullptr) {
        remove(lstEntries.pTail);
    }
}

template <class T> void KVSTORE<T>::clear() {
    removeall();
    szLastError[0] = '\0';
}

// Steps, in order: a help request ('/' or '-' then '?') as the first argument
// prints the usage text and fails. Each argument that starts with '/' or '-' is
// an option, stored with update and marked given; any other is a positional
// argument, stored as the entry "1", "2", ... (or, with wildcards, expanded into
// one such entry per matching file). After the last argument come the one-of
// group, the required options and the minimum of positional arguments. The
// first failure prints its diagnostic (mostly after the usage text) and ends the
// parse.
template <class T>
bool KVSTORE<T>::parse(int argc, const char* const* argv, const char* usagetext, int maxpositional,
                       int minpositional, bool wildcards) {
    if (argc > 1 && is_option_marker(argv[1][0]) && argv[1][1] == '?') {
        usage(usagetext, false);
        return false;
    }
    int next = 1; // name of the next positional entry
    for (int i = 1; i < argc; ++i) {
        const bool accepted =
            is_option_marker(argv[i][0])
                ? parse_option(argv[i], usagetext)
                : parse_positional(argv[i], usagetext, maxpositional, wildcards, next);
        if (!accepted) {
            return false;
        }
    }
    return check_oneof_group(usagetext) && check_required(usagetext) &&
           check_min_positional(usagetext, minpositional, next);
}

template <class T> bool KVSTORE<T>::parse_option(const char* argument, const char* usagetext) {
    OptionArgument option;
    split_option(argument, &option);
    T* entry = find(option.szName);
    if (entry == nullptr) {
        usage(usagetext, true);
        message(kKvErrorLevel, "\nUnrecognized argument (\"%s\")", option.szName);
        return false;
    }
    if ((entry->dwUser & KVU_GIVEN) != 0) {
        usage(usagetext, true);
        message(kKvErrorLevel, "\nDuplicate arguments (\"%s\")", option.szName);
        return false;
    }
    if (option.szValue[0] == '\0' && entry->nType != KVT_BOOL) {
        usage(usagetext, true);
        message(kKvErrorLevel, "\nValue must be supplied for argument \"%s\"", option.szName);
        return false;
    }
    if (!update(entry, option.szValue, nullptr)) {
        return false; // update has said why
    }
    entry->dwUser |= KVU_GIVEN;
    return true;
}

template <class T>
bool KVSTORE<T>::parse_positional(const char* argument, const char* usagetext, int maxpositional,
                                  bool wildcards, int& next) {
    if (wildcards && has_wildcard(argument)) {
        return expand_wildcard(argument, usagetext, maxpositional, next);
    }
    if (next > maxpositional) {
        usage(usagetext, true);
        message(kKvErrorLevel, "\nUnrecognized argument (\"%s\")", argument);
        return false;
    }
    char value[kCmdlineTextMax + 1];
    copy_argument_text(value, argument);
    return add_positional(value, next);
}

template <class T> bool KVSTORE<T>::add_positional(const char* value, int& next) {
    char name[16];
    std::snprintf(name, sizeof name, "%d", next);
    if (addstr(name, nullptr, value, 0, 0) == nullptr) {
        return false; // addstr has said why
    }
    ++next;
    return true;
}

template <class T> bool KVSTORE<T>::add_match(void* context, const char* path) {
    Expansion* expansion = static_cast<Expansion*>(context);
    KVSTORE* store = expansion->store;
    if (*expansion->next > expansion->maxpositional) {
        store->usage(expansion->usagetext, true);
        store->message(kKvErrorLevel, "\nToo many files specified (max = %d)",
                       expansion->maxpositional);
        return false;
    }
    if (!store->add_positional(path, *expansion->next)) {
        return false;
    }
    ++expansion->added;
    return true;
}

// Files added before a failure stay in the store.
template <class T>
bool KVSTORE<T>::expand_wildcard(const char* argument, const char* usagetext, int maxpositional,
                                 int& next) {
    Expansion expansion{this, usagetext, maxpositional, &next, 0};
    if (!visit_matching_files(argument, &KVSTORE::add_match, &expansion)) {
        return false;
    }
    if (expansion.added == 0) {
        message(kKvErrorLevel, "\nNo matches for %s", argument);
        return false;
    }
    return true;
}

template <class T> bool KVSTORE<T>::check_oneof_group(const char* usagetext) {
    NameList members;
    int given_members = 0;
    for (int index = 0; index < size(); ++index) {
        const T* entry = at(index);
        if ((entry->dwFlags & KVF_ONEOF) != 0) {
            given_members += (entry->dwUser & KVU_GIVEN) != 0 ? 1 : 0;
            members.add(entry->pszName);
        }
    }
    if (members.count() == 0 || given_members == 1) {
        return true;
    }
    usage(usagetext, true);
    if (given_members == 0) {
        message(kKvErrorLevel, "\nOne argument from list (%s) is required", members.text());
    } else {
        message(kKvErrorLevel, "\nOnly one argument from list (%s) is allowed", members.text());
    }
    return false;
}

// Only giving an option on the command line satisfies it; a value from a
// default or from the bound variable does not.
template <class T> bool KVSTORE<T>::check_required(const char* usagetext) {
    NameList missing;
    for (int index = 0; index < size(); ++index) {
        const T* entry = at(index);
        if ((entry->dwFlags & KVF_REQUIRED) != 0 && (entry->dwUser & KVU_GIVEN) == 0) {
            missing.add(entry->pszName);
        }
    }
    if (missing.count() == 0) {
        return true;
    }
    usage(usagetext, true);
    if (missing.count() > 1) {
        message(kKvErrorLevel, "\nMissing arguments (%s)", missing.text());
    } else {
        message(kKvErrorLevel, "\nMissing argument (%s)", missing.text());
    }
    return false;
}

template <class T>
bool KVSTORE<T>::check_min_positional(const char* usagetext, int minpositional, int next) {
    if (next - 1 >= minpositional) {
        return true;
    }
    usage(usagetext, true);
    message(kKvErrorLevel, "\nMissing argument");
    return false;
}

template <class T> const char* KVSTORE<T>::value_of(const void* store, const char* name) {
    const T* entry = static_cast<const KVSTORE*>(store)->find(name);
    return entry != nullptr ? entry->value() : nullptr;
}

template <class T> void KVSTORE<T>::usage(const char* text, bool leadingnewline) {
    if (text == nullptr) {
        return;
    }
    char expanded[kCmdlineListSize];
    expand_usage(text, &KVSTORE::value_of, this, expanded, sizeof expanded);
    message(kKvUsageLevel, leadingnewline ? "\n%s" : "%s", expanded);
}
