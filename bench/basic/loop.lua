-- An integer loop with arithmetic and branches.
local total = 0
for i = 1, 36000000 do
    local x = i * 7 + 3
    if x % 3 == 0 then
        total = total + x // 3
    elseif x % 5 == 1 then
        total = total - i
    else
        total = total ~ i
    end
end
print(total)
