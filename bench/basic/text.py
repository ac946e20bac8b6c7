# Text processing over a 1 MiB text: lines and words split, a word searched for, the
# first letters of each line collected.
text = open("text.txt", "rb").read().decode("latin-1")
lines = 0
words = 0
hits = 0
longest = 0
size = 0
for p in range(1, 37):
    ls = text.split("\n")
    n = len(ls) if text else 0
    lines = lines + n
    out = ""
    for i in range(0, n):
        line = ls[i]
        words = words + (len(line.split(" ")) if line else 0)
        k = line.find("needle")
        while k >= 0:
            hits = hits + 1
            k = line.find("needle", k + 1)
        if len(line) > longest:
            longest = len(line)
        start = p % 3
        out = out + line[start:start + 3] + ","
    size = size + len(out)
print(str(lines) + " " + str(words) + " " + str(hits) + " " + str(longest) + " " + str(size))
