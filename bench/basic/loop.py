# An integer loop with arithmetic and branches.
total = 0
for i in range(1, 36000001):
    x = i * 7 + 3
    if x % 3 == 0:
        total = total + x // 3
    elif x % 5 == 1:
        total = total - i
    else:
        total = total ^ i
print(total)
