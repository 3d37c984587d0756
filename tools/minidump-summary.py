#!/usr/bin/env python3
"""Prints what a minidump tells about a crash: the exception, where it happened and the
return addresses found on the crashed thread's stack, as module+offset, with the nearest
symbol when the module is found in one of the --search folders (read with nm).

  minidump-summary.py [--search DIR]... [--nm NM] DUMP...
"""
import argparse
import bisect
import os
import struct
import subprocess
import sys

EXCEPTION_STREAM, MODULE_LIST_STREAM, THREAD_LIST_STREAM = 6, 4, 3
CONTEXT_RSP, CONTEXT_RIP = 0x98, 0xF8
STACK_WORDS = 512
FRAMES = 16


class Dump:
    def __init__(self, data):
        self.data = data
        signature, _, count, directory = struct.unpack_from('<4sIII', data, 0)
        if signature != b'MDMP':
            raise ValueError('not a minidump')
        self.streams = {}
        for i in range(count):
            kind, size, rva = struct.unpack_from('<III', data, directory + 12 * i)
            self.streams.setdefault(kind, (rva, size))

    def stream(self, kind):
        return self.streams.get(kind, (None, 0))[0]

    def string(self, rva):
        (length,) = struct.unpack_from('<I', self.data, rva)
        return self.data[rva + 4:rva + 4 + length].decode('utf-16-le', 'replace')

    def modules(self):
        rva = self.stream(MODULE_LIST_STREAM)
        if rva is None:
            return []
        (count,) = struct.unpack_from('<I', self.data, rva)
        result = []
        for i in range(count):
            base, size, _, _, name_rva = struct.unpack_from('<QIIII', self.data, rva + 4 + 108 * i)
            result.append((base, size, self.string(name_rva)))
        return sorted(result)

    def thread_stack(self, thread_id):
        rva = self.stream(THREAD_LIST_STREAM)
        if rva is None:
            return None, b''
        (count,) = struct.unpack_from('<I', self.data, rva)
        for i in range(count):
            entry = rva + 4 + 48 * i
            tid, = struct.unpack_from('<I', self.data, entry)
            if tid == thread_id:
                start, size, memory = struct.unpack_from('<QII', self.data, entry + 24)
                return start, self.data[memory:memory + size]
        return None, b''


class Symbols:
    """Nearest symbols of the modules found in the search folders."""

    def __init__(self, folders, nm):
        self.folders, self.nm, self.cache = folders, nm, {}

    def lookup(self, module_name, offset):
        name = module_name.replace('\\', '/').split('/')[-1].lower()
        if name not in self.cache:
            self.cache[name] = self.load(name)
        table = self.cache[name]
        if not table:
            return ''
        image_base, addresses, names = table
        index = bisect.bisect_right(addresses, image_base + offset) - 1
        if index < 0:
            return ''
        return ' %s+0x%x' % (names[index], image_base + offset - addresses[index])

    def load(self, name):
        for folder in self.folders:
            path = os.path.join(folder, name)
            if not os.path.isfile(path):
                continue
            try:
                with open(path, 'rb') as image:
                    head = image.read(4096)
                pe = struct.unpack_from('<I', head, 0x3C)[0]
                image_base = struct.unpack_from('<Q', head, pe + 24 + 24)[0]
                symbols = self.code_symbols(path)
                if not symbols:
                    # A stripped module keeps its symbols in the file its debug link names.
                    linked = self.find(debug_link(path), [os.path.dirname(path)])
                    symbols = self.code_symbols(linked) if linked else []
            except (OSError, struct.error):
                return None
            return image_base, [a for a, _ in symbols], [n for _, n in symbols]
        return None

    def find(self, name, first_folders):
        for folder in first_folders + self.folders:
            if name and os.path.isfile(os.path.join(folder, name)):
                return os.path.join(folder, name)
        return None

    def code_symbols(self, path):
        lines = subprocess.run([self.nm, '--demangle', path], capture_output=True,
                               text=True, check=False).stdout.splitlines()
        symbols = []
        for line in lines:
            parts = line.split(' ', 2)
            if len(parts) == 3 and parts[0] and parts[1] in ('t', 'T'):
                symbols.append((int(parts[0], 16), parts[2]))
        return sorted(symbols)


def debug_link(path):
    """The file name in a PE image's ".gnu_debuglink" section, or None."""
    with open(path, 'rb') as image:
        data = image.read()
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    sections, = struct.unpack_from('<H', data, pe + 6)
    symbol_table, symbol_count = struct.unpack_from('<II', data, pe + 12)
    optional_size, = struct.unpack_from('<H', data, pe + 20)
    table = pe + 24 + optional_size
    for i in range(sections):
        raw = data[table + 40 * i:table + 40 * i + 8].rstrip(b'\0')
        if raw.startswith(b'/') and raw[1:].isdigit():
            # A long name: an offset into the string table after the symbols.
            start = symbol_table + 18 * symbol_count + int(raw[1:])
            raw = data[start:data.index(b'\0', start)]
        if raw == b'.gnu_debuglink':
            pointer, = struct.unpack_from('<I', data, table + 40 * i + 20)
            return data[pointer:data.index(b'\0', pointer)].decode('utf-8', 'replace')
    return None


def where(address, modules, symbols):
    for base, size, name in modules:
        if base <= address < base + size:
            return '%s+0x%x%s' % (name.replace('\\', '/').split('/')[-1], address - base,
                                  symbols.lookup(name, address - base))
    return None


def summarize(path, symbols):
    with open(path, 'rb') as f:
        dump = Dump(f.read())
    print('minidump %s' % path)
    rva = dump.stream(EXCEPTION_STREAM)
    if rva is None:
        print('  no exception stream')
        return
    thread_id, = struct.unpack_from('<I', dump.data, rva)
    code, flags, _, address, count = struct.unpack_from('<IIQQI', dump.data, rva + 8)
    parameters = struct.unpack_from('<%dQ' % min(count, 15), dump.data, rva + 8 + 32)
    context_size, context_rva = struct.unpack_from('<II', dump.data, rva + 8 + 152)
    modules = dump.modules()
    print('  exception 0x%08x flags 0x%x on thread %d, parameters %s' %
          (code, flags, thread_id, ' '.join('0x%x' % p for p in parameters) or 'none'))
    print('  at 0x%x %s' % (address, where(address, modules, symbols) or '(no module)'))
    rsp = None
    if context_size >= CONTEXT_RIP + 8 and context_rva + context_size <= len(dump.data):
        rsp, = struct.unpack_from('<Q', dump.data, context_rva + CONTEXT_RSP)
    start, stack = dump.thread_stack(thread_id)
    if start is None or not stack:
        print('  no stack of the thread')
        return
    first = max(0, (rsp - start) // 8) if rsp and start <= rsp < start + len(stack) else 0
    print('  return addresses on the stack from 0x%x:' % (start + 8 * first))
    frames = 0
    for i in range(first, min(len(stack) // 8, first + STACK_WORDS)):
        value, = struct.unpack_from('<Q', stack, 8 * i)
        place = where(value, modules, symbols)
        if place:
            print('    [rsp+0x%x] %s' % (8 * (i - first), place))
            frames += 1
            if frames == FRAMES:
                break


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--search', action='append', default=[])
    parser.add_argument('--nm', default='x86_64-w64-mingw32-nm')
    parser.add_argument('dumps', nargs='+')
    args = parser.parse_args()
    symbols = Symbols(args.search, args.nm)
    failed = 0
    for path in args.dumps:
        try:
            summarize(path, symbols)
        except (OSError, ValueError, struct.error) as error:
            print('minidump %s: cannot be read: %s' % (path, error))
            failed = 1
    return failed


if __name__ == '__main__':
    sys.exit(main())
