-- Text processing over a 1 MiB text: lines and words split, a word searched for, the
-- first letters of each line collected.
local f = assert(io.open("text.txt", "rb"))
local t = f:read("a")
f:close()

-- Fields between separators, empty ones kept; none for an empty text.
local function split(s, sep, into)
    local n, start = 0, 1
    if s == "" then return 0 end
    while true do
        local a, b = string.find(s, sep, start, true)
        n = n + 1
        if not a then
            into[n] = string.sub(s, start)
            return n
        end
        into[n] = string.sub(s, start, a - 1)
        start = b + 1
    end
end

local lines, words, hits, longest, size = 0, 0, 0, 0, 0
local l, w = {}, {}
for pass = 1, 36 do
    local n = split(t, "\n", l)
    lines = lines + n
    local out = ""
    for i = 1, n do
        local line = l[i]
        words = words + split(line, " ", w)
        local k = string.find(line, "needle", 1, true)
        while k do
            hits = hits + 1
            k = string.find(line, "needle", k + 1, true)
        end
        if #line > longest then longest = #line end
        local start = 1 + pass % 3
        out = out .. string.sub(line, start, start + 2) .. ","
    end
    size = size + #out
end
print(lines .. " " .. words .. " " .. hits .. " " .. longest .. " " .. size)
