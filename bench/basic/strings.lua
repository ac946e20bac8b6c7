-- String building and slicing.
local count = 0
local total = 0
for r = 1, 6600 do
    local s = ""
    for i = 0, 499 do
        s = s .. string.char(65 + (i * r) % 26)
    end
    for i = 1, #s - 2 do
        if string.sub(s, i, i + 2) == "ABC" then count = count + 1 end
    end
    local right = r % 7 > 0 and string.sub(s, -(r % 7)) or ""
    total = total + #string.sub(s, 1, r % 50) + #right
end
print(tostring(count) .. tostring(total))
